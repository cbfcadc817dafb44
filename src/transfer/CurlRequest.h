#pragma once

#include "TransferResult.h"

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What a running request hands back: the body as it arrives, and a poll at least once a second
// while nothing does. False from either stops the request.
class RequestReceiver {
public:
    virtual ~RequestReceiver() = default;
    virtual bool OnBody(const char* data, std::size_t size) = 0;
    virtual bool OnPoll(std::int64_t bytesReceived) = 0;
};

class ConnectionShare;

// libcurl's process-wide set-up, done once before any other call.
void InitializeCurl();

struct RequestOptions {
    std::string url;
    std::vector<std::string> headers; // "Name: value", sent as they are
    std::chrono::milliseconds connectTimeout{30000};
    // Connections, sessions and the easy handle kept between requests; none: its own.
    ConnectionShare* connections = nullptr;
};

// One GET on a libcurl easy handle: http and https only, redirects followed (at most 10, http
// and https only), certificates verified against the system's store or the one SSL_CERT_FILE and
// SSL_CERT_DIR name, as OpenSSL's own tools do. Header lookups read the final response. The body
// is received in pieces of up to 64 KiB.
class CurlRequest {
public:
    CurlRequest();
    ~CurlRequest();
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    // Makes the handle ready; a failure gives its step code (no handle, an option refused, a
    // malformed URL) and libcurl's code.
    TransferResult Prepare(const RequestOptions& options, RequestReceiver& receiver);
    CURLcode Perform();
    // The prepared handle, for a multi handle to perform; it is never kept for the next request.
    CURL* Handle() const { return handle_.get(); }

    long Status() const;
    std::optional<std::string> Header(const char* name) const;
    // Whether the connection (and its TLS handshake) was made.
    bool IsConnected() const;
    // The system's errno of the last failed connection attempt; 0 when there was none.
    int ConnectErrno() const;
    // The address the last request was sent to, after the redirects it followed.
    std::string EffectiveUrl() const;

private:
    struct EasyDeleter {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    struct ListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* receiver);
    static int OnProgress(void* receiver, curl_off_t, curl_off_t received, curl_off_t, curl_off_t);

    // Hands the handle back to the connections it came from when its last request ended
    // cleanly, or cleans it up: a handle that failed can keep state that spoils the next request.
    void ReleaseHandle();

    std::unique_ptr<CURL, EasyDeleter> handle_;
    ConnectionShare* connections_ = nullptr;
    bool endedCleanly_ = false;
    std::unique_ptr<curl_slist, ListDeleter> headers_;
};
