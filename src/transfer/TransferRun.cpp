#include "TransferRun.h"

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

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace {

// Received bytes are written in pieces of this size: one write per 4 KiB read costs a quarter of
// the throughput. Whatever is held back is written before any pause, failure or completion.
constexpr std::size_t WriteSize = 64 * 1024;
constexpr std::size_t ReadSize = 4096;

} // namespace

TransferRun::TransferRun(DownloadTask& task, TransferControl& control, SpeedMeter& meter)
    : task_(task), control_(control), meter_(meter), limiter_(task.speedLimit) {
    pending_.reserve(WriteSize);
}

TransferOutcome TransferRun::Run() {
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
    received_ = task_.resumeOffset;
    total_ = task_.knownSize;
    ReportActivity(true);

    target_ = RequestTarget(task_.objectPath);
    // The scheme as libcurl takes it; AddressFailure let only these through.
    const char* scheme = EqualsIgnoringCase(task_.scheme, "https") ? "https" : "http";
    std::string url = scheme + std::string("://") + task_.hostName;
    if (task_.port != 0) {
        url += ':';
        url += std::to_string(task_.port);
    }
    url += target_;

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
        if (received_ < total_) {
            return Fail(BodyStep, CURLE_PARTIAL_FILE);
        }
        return Complete();
    }
    return Fail(ResponseStep, static_cast<std::uint32_t>(status_), ErrorSource::HttpStatus);
}

std::vector<std::string> TransferRun::CommonHeaders() const {
    return {"Control: " + MakeRequestToken(target_)};
}

std::vector<std::string> TransferRun::RequestHeaders() const {
    std::vector<std::string> headers = CommonHeaders();
    if (resuming_) {
        headers.push_back("Range: bytes=" + std::to_string(task_.resumeOffset) + "-");
        // A server whose file changed since answers with the whole new one.
        if (const std::string validator = ResumeValidator(task_.fileHandle); !validator.empty()) {
            headers.push_back("If-Range: " + validator);
        }
    }
    return headers;
}

bool TransferRun::OnBody(const char* data, std::size_t size) {
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

bool TransferRun::OnPoll(std::int64_t bytesReceived) {
    if (stop_ != Stop::None) {
        return false;
    }
    if (PauseRequested()) {
        StopWith(Stop::Pause);
        return false;
    }
    ReportActivity(false); // the speed falls while nothing arrives
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

void TransferRun::StopWith(Stop stop, int code, std::uint32_t error, ErrorSource source) {
    stop_ = stop;
    failure_ = {{code, error}, source};
}

TransferActivity TransferRun::Activity() {
    TransferActivity activity;
    activity.received = received_;
    activity.total = total_;
    activity.bytesPerSecond = meter_.BytesPerSecond(std::chrono::steady_clock::now());
    activity.connections = connections_;
    activity.speedLimit = limiter_.Limit();
    return activity;
}

void TransferRun::ReportActivity(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (force || now - lastActivityReport_ >= std::chrono::milliseconds(500)) {
        lastActivityReport_ = now;
        Report([activity = Activity()](TransferOwner& owner) { owner.SetActivity(activity); });
    }
}

// Runs once, on the final response's headers. False stops the transfer with stop_ set.
bool TransferRun::HandleHeaders() {
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
        received_ = task_.resumeOffset;
    } else {
        if (resuming_) {
            StartFileAgain();
        }
        received_ = 0;
        StoreResumeValidator(task_.fileHandle, Validator());
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
    total_ = plan.total;
    if (total_ != 0) {
        Report([this](TransferOwner& owner) { owner.SetTotalSize(total_); });
    }
    if (split) {
        StopWith(Stop::Split); // the body comes again, in parts
        return false;
    }
    return true;
}

// The server showed it serves parts of this very file (a 206, or Accept-Ranges), the file's
// bytes have a validator to ask with, and enough is left to gain.
bool TransferRun::IsSplitWanted(const BodyPlan& plan) {
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

std::optional<TransferOutcome> TransferRun::RunSplit(const std::string& url) {
    PartMap written = WrittenParts(task_.fileHandle).value_or(PartMap(total_));
    written.Add(0, received_);
    const PartSource source{url,
                            CommonHeaders(),
                            ResumeValidator(task_.fileHandle),
                            total_,
                            task_.connectTimeout,
                            task_.stallTimeout,
                            task_.connections.get()};
    SplitDownload split(source, task_.fileHandle, control_, meter_,
                        [this](std::int64_t received, int connections) {
                            // A new number of connections is shown at once.
                            const bool changed = connections != connections_;
                            const std::int64_t taken = received - received_;
                            received_ = received;
                            connections_ = connections;
                            ReportActivity(changed);
                            ReportProgress();
                            // All connections together are held to the limit.
                            limiter_.Wait(taken, [this] { return PauseRequested(); });
                        });
    const SplitEnd end = split.Run(written, task_.connectionLimit);
    connections_ = 1;
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

// What identifies this version of the server's file: a strong ETag that can be kept and sent,
// else the Last-Modified date (which storing refuses in its turn when it cannot be).
std::string TransferRun::Validator() const {
    if (const std::optional<std::string> tag = request_.Header("ETag");
        tag && !tag->starts_with("W/") && IsUsableValidator(*tag)) {
        return *tag;
    }
    return request_.Header("Last-Modified").value_or(std::string());
}

// The first usable of: the server's name, the URL's name, the default name.
void TransferRun::NameFile() {
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

void TransferRun::StartFileAgain() {
    pending_.clear(); // bytes meant for the old file
    const FileHandle oldHandle = task_.fileHandle;
    task_.fileHandle = RecreateOutputFile(oldHandle);
    task_.resumeOffset = 0;
    resuming_ = false;
    Report([&](TransferOwner& owner) { owner.SetFileHandle(oldHandle, task_.fileHandle); });
    Report([](TransferOwner& owner) { owner.SetProgress(0); });
}

bool TransferRun::WritePending() {
    const int error = WriteAll(task_.fileHandle, pending_.data(), pending_.size());
    pending_.clear();
    if (error != 0) {
        StopWith(Stop::Failure, BodyStep, static_cast<std::uint32_t>(error),
                 ErrorSource::FileWrite);
        return false;
    }
    return true;
}

bool TransferRun::Receive(const char* data, std::size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    if (pending_.size() >= WriteSize && !WritePending()) {
        return false;
    }
    received_ += static_cast<std::int64_t>(size);
    meter_.Add(static_cast<std::int64_t>(size), std::chrono::steady_clock::now());
    ReportActivity(false);
    ReportProgress();
    limiter_.Wait(static_cast<std::int64_t>(size), [this] { return PauseRequested(); });
    if (PauseRequested()) {
        StopWith(Stop::Pause);
        return false;
    }
    return true;
}

void TransferRun::ReportProgress() {
    if (total_ != 0) {
        double percent = static_cast<double>(received_) * 100.0 / static_cast<double>(total_);
        if (std::isnan(percent) || percent < 0) {
            percent = 0;
        }
        const int whole = static_cast<int>(std::min(percent, 100.0));
        Report([whole](TransferOwner& owner) { owner.SetProgress(whole); });
    }
}

TransferOutcome TransferRun::Fail(int code, std::uint32_t error, ErrorSource source) {
    return Fail({{code, error}, source});
}

TransferOutcome TransferRun::Fail(const TransferFailure& failure) {
    failure_ = failure;
    if (failure_.source == ErrorSource::Curl) {
        failure_.connectErrno = request_.ConnectErrno();
    }
    Report([this](TransferOwner& owner) {
        owner.SetTransferResult(failure_.result.code, failure_.result.systemError);
    });
    return TransferOutcome::Failed;
}

TransferOutcome TransferRun::Complete() {
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
