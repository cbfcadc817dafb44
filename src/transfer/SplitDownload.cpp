#include "SplitDownload.h"

#include "OutputFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// No part is made smaller than this: below it a new connection costs more than it brings.
constexpr std::int64_t MinPartSize = 512 * 1024;
// A download splits only when at least this much is left.
constexpr std::int64_t SplitThreshold = 4 * 1024 * 1024;
constexpr auto StoreInterval = std::chrono::seconds(1);
// The time between two flushes is at least this many times what the last one took.
constexpr int StoreCostShare = 20;
// The longest wait for the connections, so that a pause is seen in time.
constexpr int PollMilliseconds = 250;

// Parts are written at their offsets, which a descriptor opened for appending ignores: appending
// is off while the download runs, and back on for whoever writes the file next.
class AppendingOff {
public:
    explicit AppendingOff(FileHandle file) : file_(file), flags_(::fcntl(file, F_GETFL)) {
        ::fcntl(file_, F_SETFL, flags_ & ~O_APPEND);
    }
    ~AppendingOff() { ::fcntl(file_, F_SETFL, flags_); }
    AppendingOff(const AppendingOff&) = delete;
    AppendingOff& operator=(const AppendingOff&) = delete;

private:
    FileHandle file_;
    int flags_;
};

} // namespace

bool IsWorthSplitting(std::int64_t total, std::int64_t offset, const std::optional<PartMap>& parts,
                      int connectionLimit) {
    const bool partsAhead = parts && parts->WrittenBytes() > parts->WrittenFromStart();
    return total > offset &&
           (partsAhead || (connectionLimit > 1 && total - offset >= SplitThreshold));
}

SplitDownload::SplitDownload(PartSource source, FileHandle file, TransferControl& control,
                             ProgressReport report)
    : source_(std::move(source)), file_(file), control_(control), report_(std::move(report)),
      written_(source_.total) {}

SplitDownload::~SplitDownload() = default;

SplitEnd SplitDownload::Run(const PartMap& written, int& connectionLimit) {
    written_ = written;
    received_ = written_.WrittenBytes();
    // The map may only name flushed bytes, and must be there before the file has its whole size.
    if (::fdatasync(file_) != 0) {
        return Fail({{BodyStep, static_cast<std::uint32_t>(errno)}, ErrorSource::FileWrite});
    }
    if (!StoreWrittenParts(file_, written_)) {
        return SplitEnd::StartAgain; // a file without a map can only be appended to
    }
    if (const int error = ::posix_fallocate(file_, 0, written_.Total()); error != 0) {
        return Fail({{BodyStep, static_cast<std::uint32_t>(error)}, ErrorSource::FileWrite});
    }
    const AppendingOff appendingOff(file_);
    multi_.reset(curl_multi_init());
    if (!multi_) {
        return Fail({{NoHandleStep, CURLE_FAILED_INIT}});
    }
    // Every part on a TCP connection of its own, never streams of one HTTP/2 connection.
    curl_multi_setopt(multi_.get(), CURLMOPT_PIPELINING, CURLPIPE_NOTHING);
    open_ = written_.Missing();

    std::optional<SplitEnd> end;
    auto lastStore = Clock::now();
    Clock::duration storeCost{};
    while (!end) {
        if (!StartParts(connectionLimit)) {
            end = SplitEnd::Failed;
            break;
        }
        int running = 0;
        curl_multi_perform(multi_.get(), &running);
        end = TakeEndedParts(connectionLimit);
        if (end) {
            break;
        }
        if (control_.IsStopWanted()) {
            end = SplitEnd::Paused;
        } else if (parts_.empty() && open_.empty()) {
            end = written_.IsComplete() ? SplitEnd::Completed
                                        : Fail({{BodyStep, CURLE_PARTIAL_FILE}});
        } else if (Clock::now() - lastStore >=
                   std::max<Clock::duration>(StoreInterval, StoreCostShare * storeCost)) {
            // Flushing stops every connection: a file that flushes slowly is flushed less often.
            lastStore = Clock::now();
            if (const int error = StoreProgress(); error != 0) {
                end = Fail({{BodyStep, static_cast<std::uint32_t>(error)}, ErrorSource::FileWrite});
            }
            storeCost = Clock::now() - lastStore;
        }
        if (!end) {
            report_(received_, ReceivingConnections());
            curl_multi_poll(multi_.get(), nullptr, 0, PollMilliseconds, nullptr);
        }
    }
    if (*end == SplitEnd::StartAgain) {
        return *end; // the file is emptied next
    }
    // What the connections still hold goes into the file before the map is kept.
    for (const std::unique_ptr<PartRequest>& part : parts_) {
        if (part->Finish(CURLE_ABORTED_BY_CALLBACK) == PartEnd::WriteFailed &&
            *end != SplitEnd::Failed) {
            end = Fail(part->Failure());
        }
    }
    parts_.clear();
    if (const int error = StoreProgress(); error != 0 && *end != SplitEnd::Failed) {
        end = Fail({{BodyStep, static_cast<std::uint32_t>(error)}, ErrorSource::FileWrite});
    }
    return *end;
}

SplitEnd SplitDownload::Fail(const TransferFailure& failure) {
    failure_ = failure;
    return SplitEnd::Failed;
}

bool SplitDownload::StartParts(int connectionLimit) {
    while (static_cast<int>(parts_.size()) < connectionLimit) {
        std::optional<ByteRange> range = TakeOpenRange();
        if (!range) {
            range = TakeHalfOfLargestPart();
        }
        if (!range) {
            break;
        }
        parts_.push_back(std::make_unique<PartRequest>(source_, file_, *range,
                                                       static_cast<PartListener&>(*this)));
    }
    // Sent only now: a part not yet asked for can still be shortened for free.
    for (const std::unique_ptr<PartRequest>& part : parts_) {
        if (!part->IsStarted()) {
            if (const TransferResult started = part->Start(multi_.get());
                started.code != CompletedStep) {
                Fail({started});
                return false;
            }
        }
    }
    return true;
}

std::optional<ByteRange> SplitDownload::TakeOpenRange() {
    const auto largest =
        std::max_element(open_.begin(), open_.end(), [](const ByteRange& a, const ByteRange& b) {
            return a.Size() < b.Size();
        });
    if (largest == open_.end()) {
        return std::nullopt;
    }
    const ByteRange range = *largest;
    open_.erase(largest);
    return range;
}

std::optional<ByteRange> SplitDownload::TakeHalfOfLargestPart() {
    const auto largest =
        std::max_element(parts_.begin(), parts_.end(), [](const auto& a, const auto& b) {
            return a->End() - a->Next() < b->End() - b->Next();
        });
    if (largest == parts_.end() || (*largest)->End() - (*largest)->Next() < 2 * MinPartSize) {
        return std::nullopt;
    }
    PartRequest& part = **largest;
    const ByteRange half{part.Next() + (part.End() - part.Next()) / 2, part.End()};
    part.ShortenTo(half.begin);
    return half;
}

std::optional<SplitEnd> SplitDownload::TakeEndedParts(int& connectionLimit) {
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &waiting)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        const auto found = std::find_if(parts_.begin(), parts_.end(), [message](const auto& part) {
            return part->Handle() == message->easy_handle;
        });
        if (found == parts_.end()) {
            continue;
        }
        const std::unique_ptr<PartRequest> part = std::move(*found);
        parts_.erase(found);
        const PartEnd ended = part->Finish(message->data.result);
        switch (ended) {
        case PartEnd::Done:
            break;
        case PartEnd::Paused:
            return SplitEnd::Paused;
        case PartEnd::WriteFailed:
            return Fail(part->Failure());
        case PartEnd::FileChanged:
            return SplitEnd::StartAgain;
        case PartEnd::Failed:
        case PartEnd::NoRanges:
            open_.push_back({part->Next(), part->End()});
            if (parts_.empty() && connectionLimit == 1) { // none can go on
                retryAfter_ = part->RetryAfter();
                return ended == PartEnd::NoRanges ? SplitEnd::StartAgain : Fail(part->Failure());
            }
            connectionLimit = std::max(1, connectionLimit - 1);
            break;
        }
    }
    return std::nullopt;
}

int SplitDownload::StoreProgress() {
    if (::fdatasync(file_) != 0) {
        return errno;
    }
    StoreWrittenParts(file_, written_); // an older map only names fewer bytes
    return 0;
}

int SplitDownload::ReceivingConnections() const {
    return static_cast<int>(std::count_if(parts_.begin(), parts_.end(),
                                          [](const auto& part) { return part->IsReceiving(); }));
}

bool SplitDownload::OnPartReceived(std::int64_t bytes) {
    received_ += bytes;
    report_(received_, ReceivingConnections());
    return !control_.IsStopWanted();
}

void SplitDownload::OnPartWritten(ByteRange written) {
    written_.Add(written.begin, written.end);
}

bool SplitDownload::OnPartPoll() {
    return !control_.IsStopWanted();
}
