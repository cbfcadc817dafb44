#pragma once

#include "FileHandle.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class ConnectionShare;
class TransferOwner;

// Everything one transfer needs. The transfer thread works on its own copy.
struct DownloadTask {
    TransferOwner* owner = nullptr; // not owned
    std::string scheme;             // as written in the URL, "" when it has none (http)
    std::string hostName;           // host without port; user information stays in front
    int port = 0;                   // 0: the scheme's default
    std::string objectPath;         // path, query and fragment; at least "/"
    FileHandle fileHandle = NoFileHandle;
    std::int64_t knownSize = 0;    // total size known before this start; 0 when unknown
    std::int64_t resumeOffset = 0; // bytes already in the temporary file
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds stallTimeout{60000}; // no data for this long fails the transfer
    // A failure that may heal (see IsTransientFailure) is retried this often, first after
    // firstRetryDelay, then after twice as long each time.
    int retries = 5;
    std::chrono::milliseconds firstRetryDelay{2000};
    // Connections one download may use where the server shows it can serve parts; one less for
    // every connection the server refuses while the transfer runs.
    int connectionLimit = 8;
    // Connections and TLS sessions kept from one transfer to the next; none: its own.
    std::shared_ptr<ConnectionShare> connections;
    // The whole queue's receive rate in bytes per second (0: none), which the owner may change
    // while the transfer runs; none: no limit.
    std::shared_ptr<const std::atomic<std::int64_t>> speedLimit;
};

// Fills scheme, hostName, port and objectPath from a URL as the user entered it.
void SetTaskAddress(DownloadTask& task, const std::string& url);
