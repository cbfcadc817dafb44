#pragma once

#include "CurlRequest.h"
#include "FileHandle.h"
#include "PartMap.h"
#include "TransferActivity.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the connections of a split download hand to the download they belong to.
class PartListener {
public:
    virtual ~PartListener() = default;
    // Bytes taken for the file (perhaps not written yet); false stops the connection (a pause).
    virtual bool OnPartReceived(std::int64_t bytes) = 0;
    // The bytes of written are in the file (not yet flushed).
    virtual void OnPartWritten(ByteRange written) = 0;
    // Polled at least once a second while a connection waits; false stops it (a pause).
    virtual bool OnPartPoll() = 0;
};

// Where the parts of a file come from, the same for every part.
struct PartSource {
    std::string url;
    std::vector<std::string> headers; // every request's, without Range and If-Range
    std::string validator;            // of the bytes the file holds: sent as If-Range
    std::int64_t total = 0;
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds stallTimeout{60000};
    ConnectionShare* connections = nullptr;
};

// How a part's request ended.
enum class PartEnd {
    Done,        // every byte of the part is in the file
    Failed,      // this connection failed (Failure says why); the rest of the part is still open
    NoRanges,    // the server sent the same file whole, or another range of it
    FileChanged, // the server's file is another one than the file holds bytes of
    WriteFailed, // the file could not be written (Failure says why)
    Paused,      // stopped by the listener
};

// One connection of a split download: asks for one range of the file with the validator in
// If-Range, takes only a 206 of exactly that range of the same file, and writes the bytes at
// their offsets. Another connection may take over the end of the part while it runs: it then
// stops where the part now ends.
class PartRequest : private RequestReceiver {
public:
    PartRequest(const PartSource& source, FileHandle file, ByteRange range, PartListener& listener);
    ~PartRequest();
    PartRequest(const PartRequest&) = delete;
    PartRequest& operator=(const PartRequest&) = delete;

    // Sends the request for [Next(), End()) on multi; a failure gives its step code.
    TransferResult Start(CURLM* multi);
    bool IsStarted() const { return multi_ != nullptr; }
    bool IsReceiving() const { return accepted_; }
    CURL* Handle() const { return request_.Handle(); }

    std::int64_t Next() const { return next_; }
    std::int64_t End() const { return end_; }
    // Ends the part earlier; never before Next().
    void ShortenTo(std::int64_t end) { end_ = std::max(next_, end); }

    // After libcurl ended the request with code: writes what the part still holds and tells how
    // it ended.
    PartEnd Finish(CURLcode code);
    const TransferFailure& Failure() const { return failure_; }
    std::optional<std::chrono::seconds> RetryAfter() const { return retryAfter_; }

private:
    bool OnBody(const char* data, std::size_t size) override;
    bool OnPoll(std::int64_t bytesReceived) override;

    // Judges the answer's headers once; sets end_ of the request when they are not the part's.
    void JudgeAnswer();
    bool IsOtherFile() const;
    bool WritePending();

    const PartSource& source_;
    FileHandle file_;
    PartListener& listener_;
    CurlRequest request_;
    CURLM* multi_ = nullptr;
    std::int64_t next_;
    std::int64_t end_;
    std::int64_t requestEnd_ = 0;
    std::vector<char> pending_;
    bool judged_ = false;
    bool accepted_ = false;
    std::optional<PartEnd> ended_;
    std::int64_t bytesSeen_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    TransferFailure failure_;
    std::optional<std::chrono::seconds> retryAfter_;
};
