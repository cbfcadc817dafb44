#pragma once

#include <cstdint>

// Step codes of a transfer's result. 0 is a completed or paused transfer; 2 to 9 name the step
// that failed. The error value recorded with a code:
//   2 NoHandleStep       the easy handle could not be made     CURLcode (CURLE_FAILED_INIT)
//   3 OptionsStep        libcurl refused an option               CURLcode
//   4 ConnectStep        resolve, connect, TLS, connect timeout  CURLcode
//   5 RequestStep        malformed URL or unsupported scheme     CURLcode
//   (CURLE_UNSUPPORTED_PROTOCOL
//                                                                 for a scheme refused up front)
//   6 SendStep           sending the request failed              CURLcode
//   8 ResponseStep       no or broken response headers           CURLcode
//                        a final status outside 2xx              the HTTP status
//   9 BodyStep           anything after the headers              CURLcode, or errno of a failed
//                                                                 write (disk full, ...)
enum TransferStep : int {
    CompletedStep = 0,
    NoHandleStep = 2,
    OptionsStep = 3,
    ConnectStep = 4,
    RequestStep = 5,
    SendStep = 6,
    ResponseStep = 8,
    BodyStep = 9,
};

// How a transfer ended. A paused transfer keeps its file open for a resume; a failed one too,
// with its result's step code and error value; a completed one has moved it to its final name.
enum class TransferOutcome { Completed, Paused, Failed };

struct TransferResult {
    int code = CompletedStep;
    std::uint32_t systemError = 0;
};
