#include "TransferAttempt.h"

#include "ContentDisposition.h"
#include "FailureRules.h"
#include "FileNames.h"
#include "FileOperations.h"
#include "OutputFiles.h"
#include "RequestRules.h"
#include "RequestToken.h"
#include "ResponseRules.h"
#include "SplitDownload.h"
#include "TextCompare.h"
#include "VersionCheck.h"

#include <cerrno>
#include <ctime>

namespace {

// Received bytes are written in pieces of this size: one write per 4 KiB read costs a quarter of
// the throughput. Whatever is held back is written before any pause, failure or completion.
constexpr std::size_t WriteSize = 64 * 1024;
constexpr std::size_t ReadSize = 4096;

} // namespace

TransferAttempt::TransferAttempt(DownloadTask& task, TransferControl& control, SpeedMeter& meter)
    : task_(task), control_(control), progress_(control, meter, task.speedLimit) {
    pending_.reserve(WriteSize);
}

TransferOutcome TransferAttempt::Run() {
    Report([](TransferOwner& owner) { owner.SetTransferResult(CompletedStep, 0); });

    if (const std::optional<TransferFailure> refused =
            AddressFailure(task_.scheme, task_.hostName)) {
        return Fail(*refused);
    }
    // Without a file the body would be dropped and the item shown as done.
    if (task_.fileHandle == NoFileHandle) {
        return Fail(BodyStep, EBADF, ErrorSource::FileWrite);
    }
    // A file written in parts holds only what its map names, and only for the size it was for.
    const std::optional<PartMap> parts = WrittenParts(task_.fileHandle);
    const bool partsKept = parts && task_.knownSize != 0 && parts->Total() == task_.knownSize;
    if (parts && !partsKept) {
        StartFileAgain();
    } else if (partsKept) {
        task_.resumeOffset = parts->WrittenFromStart();
    }
    // Data of unknown total size cannot be validated against the server's: start afresh.
    if (task_.knownSize == 0 && OutputFileSize(task_.fileHandle) > 0) {
        StartFileAgain();
    }
    // Parts written further on are worth a resume from the first byte.
    resuming_ = task_.knownSize != 0 && (task_.resumeOffset != 0 || partsKept);
    progress_.SetReceived(task_.resumeOffset);
    progress_.SetTotal(task_.knownSize);
    progress_.ReportActivity(true);

    target_ = RequestTarget(task_.objectPath);
    const std::string url = RequestUrl(task_.scheme, task_.hostName, task_.port, target_);

    // A refused resume (416 on a file that is not complete, a range that is not the rest of the
    // file) is answered by one fresh request.
    for (int attempt = 0; attempt < 2; ++attempt) {
        headersHandled_ = false;
        stop_ = Stop::None;
        bytesSeen_ = 0;
        lastActivity_ = std::chrono::steady_clock::now();
        const TransferResult prepared = request_.Prepare(
            {url, RequestHeaders(), task_.connectTimeout, task_.connections.get()}, *this);
        if (prepared.code != CompletedStep) {
            return Fail(prepared.code, prepared.systemError);
        }

        const CURLcode code = request_.Perform();
        if (!WritePending()) {
            return Fail(failure_);
        }
        if (stop_ == Stop::None && code == CURLE_OK && !headersHandled_) {
            HandleHeaders(); // an empty body
        }
        switch (stop_) {
        case Stop::Pause:
            return TransferOutcome::Paused;
        case Stop::Failure:
            return Fail(failure_);
        case Stop::AlreadyComplete:
            return Complete();
        case Stop::StartAgain:
            StartFileAgain();
            continue;
        case Stop::Split:
            if (const std::optional<TransferOutcome> outcome = RunSplit(url)) {
                return *outcome;
            }
            StartFileAgain();
            splitAllowed_ = false;
            continue;
        case Stop::None:
            break;
        }
        if (code == CURLE_ABORTED_BY_CALLBACK) {
            return TransferOutcome::Paused; // while no data flowed
        }
        if (code != CURLE_OK) {
            // The headers arrived but the body broke off before its first byte.
            if (!headersHandled_ && request_.Status() != 0 && code == CURLE_PARTIAL_FILE &&
                !HandleHeaders() && stop_ == Stop::Failure) {
                return Fail(failure_);
            }
            TransferFailure failure{
                {headersHandled_ ? BodyStep : StepOfEarlyFailure(code, request_.IsConnected()),
                 static_cast<std::uint32_t>(code)}};
            if (code == CURLE_UNSUPPORTED_PROTOCOL && request_.EffectiveUrl() != url) {
                failure.redirectTarget = request_.EffectiveUrl();
            }
            return Fail(failure);
        }
        // A pause that came with the last bytes still counts as a pause.
        if (PauseRequested()) {
            return TransferOutcome::Paused;
        }
        if (progress_.Received() < progress_.Total()) {
            return Fail(BodyStep, CURLE_PARTIAL_FILE);
        }
        return Complete();
    }
    return Fail(ResponseStep, static_cast<std::uint32_t>(status_), ErrorSource::HttpStatus);
}

std::vector<std::string> TransferAttempt::RequestHeaders() const {
    std::vector<std::string> headers{"Control: " + MakeRequestToken(target_)};
    if (resuming_) {
        headers.push_back("Range: bytes=" + std::to_string(task_.resumeOffset) + "-");
        // A server whose file changed since answers with the whole new one.
        if (const std::string validator = ResumeValidator(task_.fileHandle); !validator.empty()) {
            headers.push_back("If-Range: " + validator);
        }
    }
    return headers;
}

bool TransferAttempt::OnBody(const char* data, std::size_t size) {
    if (!headersHandled_ && !HandleHeaders()) {
        return false;
    }
    // Taken in reads of at most ReadSize bytes, with the percentage and the pause poll after
    // each, however much libcurl received at once.
    for (std::size_t at = 0; at < size; at += ReadSize) {
        if (!Receive(data + at, std::min(ReadSize, size - at))) {
            return false;
        }
    }
    return true;
}

bool TransferAttempt::OnPoll(std::int64_t bytesReceived) {
    if (stop_ != Stop::None) {
        return false;
    }
    if (PauseRequested()) {
        StopWith(Stop::Pause);
        return false;
    }
    progress_.ReportActivity(false); // the speed falls while nothing arrives
    const auto now = std::chrono::steady_clock::now();
    if (bytesReceived != bytesSeen_) {
        bytesSeen_ = bytesReceived;
        lastActivity_ = now;
    } else if (now - lastActivity_ > task_.stallTimeout) {
        StopWith(Stop::Failure,
                 headersHandled_          ? BodyStep
                 : request_.IsConnected() ? ResponseStep
                                          : ConnectStep,
                 CURLE_OPERATION_TIMEDOUT);
        return false;
    }
    return true;
}

void TransferAttempt::StopWith(Stop stop, int code, std::uint32_t error, ErrorSource source) {
    stop_ = stop;
    failure_ = {{code, error}, source};
}

// Runs once, on the final response's headers. False stops the transfer with stop_ set.
bool TransferAttempt::HandleHeaders() {
    headersHandled_ = true;
    status_ = request_.Status();
    const bool success = status_ >= 200 && status_ <= 299;
    BodyPlan plan =
        PlanBody(status_, request_.Header("Content-Range"), request_.Header("Content-Length"),
                 resuming_ ? task_.resumeOffset : 0, task_.knownSize);
    // A resume from the first byte: the whole file in a 206 is the rest of the same file.
    if (resuming_ && task_.resumeOffset == 0 && status_ == 206 && plan.use == BodyUse::FromStart &&
        plan.total == task_.knownSize) {
        plan.use = BodyUse::Append;
    }
    // Named first, so that the row shows the name while the new-version question is open.
    if (success && (plan.use == BodyUse::Append || plan.use == BodyUse::FromStart)) {
        NameFile();
    }
    if (const std::optional<std::string> version = request_.Header(VersionHeaderName.data())) {
        CheckServerVersion(*version);
        // The user's time to answer is no stall of the server.
        lastActivity_ = std::chrono::steady_clock::now();
    }

    if (status_ == 416 && resuming_) {
        const std::optional<std::string> range = request_.Header("Content-Range");
        const std::optional<std::int64_t> serverTotal =
            range ? UnsatisfiedRangeTotal(*range) : std::nullopt;
        const bool complete = OutputFileSize(task_.fileHandle) == task_.knownSize &&
                              (!serverTotal || *serverTotal == task_.knownSize);
        if (complete) {
            NameFile();
        }
        StopWith(complete ? Stop::AlreadyComplete : Stop::StartAgain);
        return false;
    }
    if (!success) {
        if (const std::optional<std::string> wait = request_.Header("Retry-After")) {
            retryAfter_ = ParseRetryAfter(*wait, std::time(nullptr));
        }
        StopWith(Stop::Failure, ResponseStep, static_cast<std::uint32_t>(status_),
                 ErrorSource::HttpStatus);
        return false;
    }

    if (plan.use == BodyUse::RequestAgain) {
        StopWith(Stop::StartAgain);
        return false;
    }
    if (plan.use == BodyUse::Invalid) {
        StopWith(Stop::Failure, ResponseStep, CURLE_WEIRD_SERVER_REPLY);
        return false;
    }
    if (plan.use == BodyUse::Append) {
        progress_.SetReceived(task_.resumeOffset);
    } else {
        if (resuming_) {
            StartFileAgain();
        }
        progress_.SetReceived(0);
        StoreResumeValidator(task_.fileHandle, ChooseValidator(request_.Header("ETag"),
                                                               request_.Header("Last-Modified")));
        Report([](TransferOwner& owner) { owner.SetProgress(0); });
    }
    const bool split = IsSplitWanted(plan);
    // Appended to on one connection, a file written in parts keeps only its start.
    if (const int error =
            plan.use == BodyUse::Append && !split ? KeepWrittenStart(task_.fileHandle) : 0;
        error != 0) {
        StopWith(Stop::Failure, BodyStep, static_cast<std::uint32_t>(error),
                 ErrorSource::FileWrite);
        return false;
    }
    progress_.SetTotal(plan.total);
    if (plan.total != 0) {
        Report([&plan](TransferOwner& owner) { owner.SetTotalSize(plan.total); });
    }
    if (split) {
        StopWith(Stop::Split); // the body comes again, in parts
        return false;
    }
    return true;
}

// The server showed it serves parts of this very file (a 206, or Accept-Ranges), the file's
// bytes have a validator to ask with, and enough is left to gain.
bool TransferAttempt::IsSplitWanted(const BodyPlan& plan) {
    const std::optional<std::string> ranges = request_.Header("Accept-Ranges");
    const std::int64_t offset = plan.use == BodyUse::Append ? task_.resumeOffset : 0;
    return splitAllowed_ && plan.total > 0 &&
           (status_ == 206 || (ranges && EqualsIgnoringCase(*ranges, "bytes"))) &&
           !ResumeValidator(task_.fileHandle).empty() &&
           IsWorthSplitting(plan.total, offset,
                            plan.use == BodyUse::Append ? WrittenParts(task_.fileHandle)
                                                        : std::nullopt,
                            task_.connectionLimit);
}

std::optional<TransferOutcome> TransferAttempt::RunSplit(const std::string& url) {
    PartMap written = WrittenParts(task_.fileHandle).value_or(PartMap(progress_.Total()));
    written.Add(0, progress_.Received());
    const PartSource source{url,
                            {"Control: " + MakeRequestToken(target_)},
                            ResumeValidator(task_.fileHandle),
                            progress_.Total(),
                            task_.connectTimeout,
                            task_.stallTimeout,
                            task_.connections.get()};
    // All connections together are counted and held to the limit.
    SplitDownload split(source, task_.fileHandle, control_,
                        [this](std::int64_t received, int connections) {
                            progress_.SetConnections(connections);
                            progress_.Take(received - progress_.Received());
                        });
    const SplitEnd end = split.Run(written, task_.connectionLimit);
    progress_.SetConnections(1);
    switch (end) {
    case SplitEnd::Completed:
        return Complete();
    case SplitEnd::Paused:
        return TransferOutcome::Paused;
    case SplitEnd::Failed:
        retryAfter_ = split.RetryAfter();
        return Fail(split.Failure());
    case SplitEnd::StartAgain:
        break;
    }
    return std::nullopt;
}

// else the Last-Modified date (which storing refuses in its turn when it cannot be).
// The first usable of: the server's name, the URL's name, the default name.
void TransferAttempt::NameFile() {
    std::optional<std::string> serverName;
    if (const std::optional<std::string> header = request_.Header("Content-Disposition")) {
        serverName = FileNameFromContentDisposition(*header);
    }
    for (const std::string& candidate :
         {serverName.value_or(std::string()), FileNameFromUrl(task_.objectPath),
          std::string(DefaultFileName)}) {
        if (std::string name = SetOutputFileName(task_.fileHandle, candidate); !name.empty()) {
            adoptedName_ = std::move(name);
            Report([this](TransferOwner& owner) { owner.SetFileName(adoptedName_); });
            return;
        }
    }
}

void TransferAttempt::StartFileAgain() {
    pending_.clear(); // bytes meant for the old file
    const FileHandle oldHandle = task_.fileHandle;
    task_.fileHandle = RecreateOutputFile(oldHandle);
    task_.resumeOffset = 0;
    resuming_ = false;
    Report([&](TransferOwner& owner) { owner.SetFileHandle(oldHandle, task_.fileHandle); });
    Report([](TransferOwner& owner) { owner.SetProgress(0); });
}

bool TransferAttempt::WritePending() {
    const int error = WriteAll(task_.fileHandle, pending_.data(), pending_.size());
    pending_.clear();
    if (error != 0) {
        StopWith(Stop::Failure, BodyStep, static_cast<std::uint32_t>(error),
                 ErrorSource::FileWrite);
        return false;
    }
    return true;
}

bool TransferAttempt::Receive(const char* data, std::size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    if (pending_.size() >= WriteSize && !WritePending()) {
        return false;
    }
    progress_.Take(static_cast<std::int64_t>(size));
    if (PauseRequested()) {
        StopWith(Stop::Pause);
        return false;
    }
    return true;
}

TransferOutcome TransferAttempt::Fail(int code, std::uint32_t error, ErrorSource source) {
    return Fail({{code, error}, source});
}

TransferOutcome TransferAttempt::Fail(const TransferFailure& failure) {
    failure_ = failure;
    if (failure_.source == ErrorSource::Curl) {
        failure_.connectErrno = request_.ConnectErrno();
    }
    Report([this](TransferOwner& owner) {
        owner.SetTransferResult(failure_.result.code, failure_.result.systemError);
    });
    return TransferOutcome::Failed;
}

TransferOutcome TransferAttempt::Complete() {
    const OutputCompletion completion = CompleteOutputFile(task_.fileHandle);
    if (completion.error != 0) {
        return Fail(BodyStep, static_cast<std::uint32_t>(completion.error), ErrorSource::FileMove);
    }
    task_.fileHandle = NoFileHandle;
    savedPath_ = completion.path;
    Report([](TransferOwner& owner) {
        owner.SetTransferResult(CompletedStep, 0);
        owner.SetProgress(100);
    });
    if (completion.name != adoptedName_) {
        Report([&completion](TransferOwner& owner) { owner.SetFileName(completion.name); });
    }
    return TransferOutcome::Completed;
}
