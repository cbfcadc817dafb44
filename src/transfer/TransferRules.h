#pragma once

#include "TransferActivity.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The rules a transfer applies to what it sends and receives, free of any connection.

// The object as it goes on the wire: the fragment stays with the client, and bytes that may not
// stand in a request line are percent-encoded. Existing escapes are kept as they are.
std::string RequestTarget(std::string_view objectPath);

// A size header's value: blanks around decimal digits, within 64 bits; none otherwise.
std::optional<std::int64_t> ParseSize(std::string_view text);

// "bytes FIRST-LAST/COMPLETE" with COMPLETE a number or "*" (none), FIRST <= LAST < COMPLETE.
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::optional<std::int64_t> complete;
};
std::optional<ContentRange> ParseContentRange(std::string_view value);

// For a 416: the size "bytes */COMPLETE" names.
std::optional<std::int64_t> UnsatisfiedRangeTotal(std::string_view value);

// What a successful final response's body is.
enum class BodyUse {
    Append,       // the rest of the temporary file, exactly as asked for
    FromStart,    // the whole file
    RequestAgain, // neither: start the file again and ask for all of it
    Invalid,      // a length that is no size within 64 bits: no body of it can be trusted
};
struct BodyPlan {
    BodyUse use = BodyUse::FromStart;
    std::int64_t total = 0; // the file's whole size; 0 when unknown
};

// resumeOffset is 0 for a request without Range. A 206 is appended only when its range starts at
// the offset, ends at the known size and names no other complete length; a 206 that holds the
// whole file is taken from the start; any other 206 is asked for again.
BodyPlan PlanBody(long status, const std::optional<std::string>& contentRange,
                  const std::optional<std::string>& contentLength, std::int64_t resumeOffset,
                  std::int64_t knownSize);

// Why an address cannot be asked for at all, as a failure of the request step: a scheme other
// than http and https ("" is http), a host that is empty or still holds a port (one out of range
// or not a number stays in the host). None when it can be asked for.
std::optional<TransferFailure> AddressFailure(std::string_view scheme, std::string_view host);

// The name the URL gives: its path's last segment, percent-decoded (see DecodedUrlSegment).
std::string FileNameFromUrl(const std::string& objectPath);

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
