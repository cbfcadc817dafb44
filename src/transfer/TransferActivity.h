#pragma once

#include "TransferResult.h"

#include <cstdint>
#include <optional>
#include <string>

// Whose number a failure's error value is: libcurl's code, the server's status, or the system's
// errno from writing the temporary file or from moving it to its name.
enum class ErrorSource { Curl, HttpStatus, FileWrite, FileMove };

// Why a transfer failed, in more detail than its result: the step code and error value alone
// cannot tell a full disk (errno 28) from a stalled server (CURLE_OPERATION_TIMEDOUT, also 28).
struct TransferFailure {
    TransferResult result;
    ErrorSource source = ErrorSource::Curl;
    int connectErrno = 0; // why the last connection attempt failed, when the system said
    // Where a redirect that was not followed sent the download (another scheme); "" otherwise.
    std::string redirectTarget{};
};

// How a transfer ended, with the facts its owner shows of it.
struct TransferEnd {
    TransferOutcome outcome = TransferOutcome::Failed;
    TransferFailure failure{};  // why, when it failed
    std::string savedPath{};    // the file under its final name, when it completed
    std::int64_t keptBytes = 0; // what the temporary file holds, when it paused or failed
};

// What a transfer is doing, for the user to read. Reported at most about twice a second while
// bytes arrive or a retry is waited for, and once more with the failure when it fails.
struct TransferActivity {
    std::int64_t received = 0;       // bytes in the temporary file
    std::int64_t total = 0;          // the whole file; 0 while unknown
    std::int64_t bytesPerSecond = 0; // over the last few seconds
    int retry = 0;                   // the retry waited for, from 1; 0 when none is waited for
    int retries = 0;                 // how many retries there may be in all
    std::int64_t retryInSeconds = 0;
    std::optional<TransferFailure> failure; // the last failure: the reason for the retry or end
    int connections = 1;                    // connections receiving the file's bytes
    std::int64_t speedLimit = 0;            // bytes per second held to; 0 when none
};
