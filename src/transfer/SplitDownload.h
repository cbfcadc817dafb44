#pragma once

#include "FileHandle.h"
#include "PartMap.h"
#include "PartRequest.h"
#include "TransferActivity.h"
#include "TransferControl.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Whether a download of total bytes, resumable from offset, gains from several connections:
// enough bytes left for two parts of their least size, or parts already written beyond offset.
bool IsWorthSplitting(std::int64_t total, std::int64_t offset, const std::optional<PartMap>& parts,
                      int connectionLimit);

// How a split download ended.
enum class SplitEnd {
    Completed,  // every byte is in the file and flushed
    Paused,     // the map of what the file holds is kept with it
    Failed,     // no connection could go on; Failure says why
    StartAgain, // the server's file changed, or it serves no ranges: start again on one connection
};

// One download over several connections of a libcurl multi handle, on the calling thread. The
// file is given its whole size first; every connection writes its part at its offsets, and the
// map of the parts written is kept with the file once the bytes it names are flushed, at most
// about once a second and at every end. A connection that finishes takes over half of the
// largest part still open; one that fails hands its rest back and leaves one connection less.
class SplitDownload : private PartListener {
public:
    // Called as bytes arrive: the bytes the file holds with those on their way to it, and the
    // connections receiving.
    using ProgressReport = std::function<void(std::int64_t received, int connections)>;

    SplitDownload(PartSource source, FileHandle file, TransferControl& control,
                  ProgressReport report);
    ~SplitDownload();
    SplitDownload(const SplitDownload&) = delete;
    SplitDownload& operator=(const SplitDownload&) = delete;

    // Fetches what written lacks on at most connectionLimit connections, one less for every
    // connection the server refuses (never less than one).
    SplitEnd Run(const PartMap& written, int& connectionLimit);
    const TransferFailure& Failure() const { return failure_; }
    std::optional<std::chrono::seconds> RetryAfter() const { return retryAfter_; }

private:
    struct MultiDeleter {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };

    bool OnPartReceived(std::int64_t bytes) override;
    void OnPartWritten(ByteRange written) override;
    bool OnPartPoll() override;

    SplitEnd Fail(const TransferFailure& failure);
    // Gives every free connection up to the limit a part; false when a request could not start.
    bool StartParts(int connectionLimit);
    std::optional<ByteRange> TakeOpenRange();
    std::optional<ByteRange> TakeHalfOfLargestPart();
    // What the ended connections tell; none while the download goes on.
    std::optional<SplitEnd> TakeEndedParts(int& connectionLimit);
    // Flushes the file, then keeps the map of what it holds; 0 or the errno of the flush.
    int StoreProgress();
    int ReceivingConnections() const;

    PartSource source_;
    FileHandle file_;
    TransferControl& control_;
    ProgressReport report_;
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    std::vector<std::unique_ptr<PartRequest>> parts_;
    std::vector<ByteRange> open_; // bytes no connection holds nor has written
    PartMap written_;
    std::int64_t received_ = 0;
    TransferFailure failure_;
    std::optional<std::chrono::seconds> retryAfter_;
};
