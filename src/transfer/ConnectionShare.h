#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>

// The connections, TLS sessions and name lookups that successive transfers share, as curl keeps
// them between the files of one run: a queue of files from one host pays for its connection,
// handshake and lookup once. libcurl's lock callbacks guard it, so transfers on different threads
// may use it. A session is only offered again to the same host with the same settings, and
// certificates are still checked on every new connection. It also keeps the last transfer's
// easy handle for the next one, which saves making libcurl's per-handle event loop each time.
class ConnectionShare {
public:
    ConnectionShare();
    ~ConnectionShare();
    ConnectionShare(const ConnectionShare&) = delete;
    ConnectionShare& operator=(const ConnectionShare&) = delete;

    CURLSH* Handle() const { return share_; }

    // The kept easy handle, else a new one; null when none can be made.
    CURL* TakeEasyHandle();
    // Keeps handle, its options reset, for the next transfer (one kept before is cleaned up).
    void KeepEasyHandle(CURL* handle);

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void Unlock(CURL*, curl_lock_data data, void* self);

    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
    CURLSH* share_ = nullptr;
    std::mutex keptMutex_;
    CURL* kept_ = nullptr;
};
