#pragma once

#include "TransferActivity.h"

#include <curl/curl.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

// The rules for telling failures apart and for retrying them, free of any connection.

// Step code of a libcurl failure that came before the response's headers were taken.
int StepOfEarlyFailure(CURLcode code, bool connected);

// A failure that may heal by itself: a refused, reset or timed-out connection, a failed name
// lookup, a body that broke off or stalled, and HTTP 408, 429, 500, 502, 503 and 504.
bool IsTransientFailure(const TransferFailure& failure);

// How long to wait before retry number retry (from 1): firstDelay doubled for each retry before
// it, or what the server's Retry-After asked for, at most MaxRetryAfter.
inline constexpr std::chrono::seconds MaxRetryAfter{300};
std::chrono::milliseconds RetryDelay(int retry, std::chrono::milliseconds firstDelay,
                                     std::optional<std::chrono::seconds> retryAfter);

// A Retry-After value, seconds or an HTTP date, as the time from now; none when unreadable.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, std::time_t now);
