#include "PartRequest.h"

#include "FailureRules.h"
#include "FileOperations.h"
#include "ResponseRules.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace {

// As on one connection: reads of at most ReadSize with a pause poll after each, written in pieces
// of WriteSize.
constexpr std::size_t ReadSize = 4096;
constexpr std::size_t WriteSize = 64 * 1024;

} // namespace

PartRequest::PartRequest(const PartSource& source, FileHandle file, ByteRange range,
                         PartListener& listener)
    : source_(source), file_(file), listener_(listener), next_(range.begin), end_(range.end) {}

PartRequest::~PartRequest() {
    // Out of the multi handle before the easy handle goes.
    if (multi_ != nullptr) {
        curl_multi_remove_handle(multi_, request_.Handle());
    }
}

TransferResult PartRequest::Start(CURLM* multi) {
    requestEnd_ = end_;
    std::vector<std::string> headers = source_.headers;
    headers.push_back("Range: bytes=" + std::to_string(next_) + "-" +
                      std::to_string(requestEnd_ - 1));
    headers.push_back("If-Range: " + source_.validator);
    const TransferResult prepared = request_.Prepare(
        {source_.url, headers, source_.connectTimeout, source_.connections}, *this);
    if (prepared.code != CompletedStep) {
        return prepared;
    }
    if (curl_multi_add_handle(multi, request_.Handle()) != CURLM_OK) {
        return {NoHandleStep, CURLE_FAILED_INIT};
    }
    multi_ = multi;
    lastActivity_ = std::chrono::steady_clock::now();
    return {};
}

// A 206 that is exactly the part of the same file is taken. Another total, validator or a 416
// shows another file; a 200 or another range of the same file, a server that will not serve
// ranges on this connection; any other status, a refusal of this connection.
void PartRequest::JudgeAnswer() {
    judged_ = true;
    const long status = request_.Status();
    if (status == 206) {
        const std::optional<std::string> header = request_.Header("Content-Range");
        const std::optional<ContentRange> range =
            header ? ParseContentRange(*header) : std::nullopt;
        if ((range && range->complete && *range->complete != source_.total) || IsOtherFile()) {
            ended_ = PartEnd::FileChanged;
        } else if (!range || !range->complete || range->first != next_ ||
                   range->last != requestEnd_ - 1) {
            ended_ = PartEnd::NoRanges;
        } else {
            accepted_ = true;
        }
        return;
    }
    if (status == 200 || status == 416) {
        const std::optional<std::string> length = request_.Header("Content-Length");
        const std::optional<std::int64_t> size = length ? ParseSize(*length) : std::nullopt;
        ended_ = status == 416 || IsOtherFile() || (size && *size != source_.total)
                     ? PartEnd::FileChanged
                     : PartEnd::NoRanges;
        return;
    }
    ended_ = PartEnd::Failed;
    failure_ = {{ResponseStep, static_cast<std::uint32_t>(status)}, ErrorSource::HttpStatus};
    if (const std::optional<std::string> wait = request_.Header("Retry-After")) {
        retryAfter_ = ParseRetryAfter(*wait, std::time(nullptr));
    }
}

// Whether the answer names a validator and it is not the one the file's bytes came with.
bool PartRequest::IsOtherFile() const {
    const std::optional<std::string> tag = request_.Header("ETag");
    const std::optional<std::string> date = request_.Header("Last-Modified");
    return (tag || date) && tag != source_.validator && date != source_.validator;
}

bool PartRequest::OnBody(const char* data, std::size_t size) {
    if (!judged_) {
        JudgeAnswer();
    }
    if (!accepted_) {
        return false;
    }
    for (std::size_t at = 0; at < size; at += ReadSize) {
        const std::size_t piece = std::min(ReadSize, size - at);
        const auto taken = static_cast<std::size_t>(std::min<std::int64_t>(piece, end_ - next_));
        pending_.insert(pending_.end(), data + at, data + at + taken);
        next_ += static_cast<std::int64_t>(taken);
        if ((pending_.size() >= WriteSize || next_ == end_) && !WritePending()) {
            return false;
        }
        if (!listener_.OnPartReceived(static_cast<std::int64_t>(taken))) {
            ended_ = PartEnd::Paused;
            return false;
        }
        if (next_ == end_) {
            // Past a shortened end the bytes are another connection's: stop here.
            return at + piece == size && end_ == requestEnd_;
        }
    }
    return true;
}

bool PartRequest::OnPoll(std::int64_t bytesReceived) {
    if (ended_) {
        return false;
    }
    if (!listener_.OnPartPoll()) {
        ended_ = PartEnd::Paused;
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (bytesReceived != bytesSeen_) {
        bytesSeen_ = bytesReceived;
        lastActivity_ = now;
    } else if (now - lastActivity_ > source_.stallTimeout) {
        ended_ = PartEnd::Failed;
        failure_ = {{judged_                  ? BodyStep
                     : request_.IsConnected() ? ResponseStep
                                              : ConnectStep,
                     CURLE_OPERATION_TIMEDOUT}};
        return false;
    }
    return true;
}

bool PartRequest::WritePending() {
    const std::int64_t offset = next_ - static_cast<std::int64_t>(pending_.size());
    const int error = WriteAll(file_, pending_.data(), pending_.size(), offset);
    if (error != 0) {
        ended_ = PartEnd::WriteFailed;
        failure_ = {{BodyStep, static_cast<std::uint32_t>(error)}, ErrorSource::FileWrite};
        return false;
    }
    listener_.OnPartWritten({offset, next_});
    pending_.clear();
    return true;
}

PartEnd PartRequest::Finish(CURLcode code) {
    if (!pending_.empty() && !WritePending()) {
        return PartEnd::WriteFailed;
    }
    if (!judged_ && code == CURLE_OK) {
        JudgeAnswer(); // an answer without a body
    }
    if (ended_ == PartEnd::WriteFailed || ended_ == PartEnd::FileChanged) {
        return *ended_;
    }
    if (next_ >= end_) {
        return PartEnd::Done;
    }
    if (ended_) {
        return *ended_;
    }
    failure_ = {{judged_ ? BodyStep : StepOfEarlyFailure(code, request_.IsConnected()),
                 static_cast<std::uint32_t>(code == CURLE_OK ? CURLE_PARTIAL_FILE : code)}};
    failure_.connectErrno = request_.ConnectErrno();
    return PartEnd::Failed;
}
