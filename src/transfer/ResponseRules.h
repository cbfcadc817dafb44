#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The rules for reading an answer's sizes and ranges and for what its body is, free of any
// connection.

// A size header's value: blanks around decimal digits, within 64 bits; none otherwise.
std::optional<std::int64_t> ParseSize(std::string_view text);

// "bytes FIRST-LAST/COMPLETE" with COMPLETE a number or "*" (none), FIRST <= LAST < COMPLETE.
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::optional<std::int64_t> complete;
};
std::optional<ContentRange> ParseContentRange(std::string_view value);

// What identifies the version of the server's file that an answer holds: a strong ETag that can
// be kept (see IsUsableValidator), else the Last-Modified date; "" when neither.
std::string ChooseValidator(const std::optional<std::string>& etag,
                            const std::optional<std::string>& lastModified);

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
