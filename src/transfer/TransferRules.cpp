#include "TransferRules.h"

#include "FileNames.h"
#include "TextCompare.h"
#include "TransferResult.h"
#include "UrlParts.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// Decimal digits only, the whole text, within 64 bits.
std::optional<std::int64_t> ParseDigits(std::string_view text) {
    std::int64_t value = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The text after "bytes" and its blanks; none when the unit is another one.
std::optional<std::string_view> RangeSpecification(std::string_view value) {
    value = Trimmed(value);
    const std::size_t unitEnd = value.find_first_of(Blanks);
    if (unitEnd == std::string_view::npos ||
        !EqualsIgnoringCase(value.substr(0, unitEnd), "bytes")) {
        return std::nullopt;
    }
    return Trimmed(value.substr(unitEnd));
}

} // namespace

std::string RequestTarget(std::string_view objectPath) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    static constexpr std::string_view Unsafe = "\"<>\\^`{|}";
    std::string target;
    for (const char c : objectPath.substr(0, objectPath.find('#'))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || Unsafe.find(c) != std::string_view::npos) {
            target += '%';
            target += Hex[byte >> 4];
            target += Hex[byte & 0x0F];
        } else {
            target += c;
        }
    }
    return target.empty() ? "/" : target;
}

std::optional<std::int64_t> ParseSize(std::string_view text) {
    return ParseDigits(Trimmed(text));
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
    const std::optional<std::string_view> range = RangeSpecification(value);
    if (!range) {
        return std::nullopt;
    }
    const std::size_t dash = range->find('-');
    const std::size_t slash = range->find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> first = ParseDigits(range->substr(0, dash));
    const std::optional<std::int64_t> last = ParseDigits(range->substr(dash + 1, slash - dash - 1));
    const std::string_view completeText = range->substr(slash + 1);
    const std::optional<std::int64_t> complete = ParseDigits(completeText);
    if (!first || !last || *first > *last || (completeText != "*" && !complete) ||
        (complete && *complete <= *last)) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, complete};
}

std::optional<std::int64_t> UnsatisfiedRangeTotal(std::string_view value) {
    const std::optional<std::string_view> range = RangeSpecification(value);
    if (!range || !range->starts_with("*/")) {
        return std::nullopt;
    }
    return ParseDigits(range->substr(2));
}

BodyPlan PlanBody(long status, const std::optional<std::string>& contentRange,
                  const std::optional<std::string>& contentLength, std::int64_t resumeOffset,
                  std::int64_t knownSize) {
    if (status != 206) {
        if (!contentLength) {
            return {BodyUse::FromStart, 0};
        }
        const std::optional<std::int64_t> length = ParseSize(*contentLength);
        return length ? BodyPlan{BodyUse::FromStart, *length} : BodyPlan{BodyUse::Invalid, 0};
    }
    const std::optional<ContentRange> range =
        contentRange ? ParseContentRange(*contentRange) : std::nullopt;
    if (!range) {
        return {BodyUse::RequestAgain, 0};
    }
    if (resumeOffset > 0 && knownSize > 0 && range->first == resumeOffset &&
        range->last == knownSize - 1 && range->complete.value_or(knownSize) == knownSize) {
        return {BodyUse::Append, knownSize};
    }
    if (range->first == 0 && range->complete && range->last == *range->complete - 1) {
        return {BodyUse::FromStart, *range->complete};
    }
    return {BodyUse::RequestAgain, 0};
}

std::optional<TransferFailure> AddressFailure(std::string_view scheme, std::string_view host) {
    if (!scheme.empty() && !EqualsIgnoringCase(scheme, "http") &&
        !EqualsIgnoringCase(scheme, "https")) {
        return TransferFailure{{RequestStep, CURLE_UNSUPPORTED_PROTOCOL}};
    }
    const std::size_t at = host.rfind('@');
    host.remove_prefix(at == std::string_view::npos ? 0 : at + 1);
    const std::size_t bracket = host.rfind(']');
    if (host.empty() ||
        host.find(':', bracket == std::string_view::npos ? 0 : bracket) != std::string::npos) {
        return TransferFailure{{RequestStep, CURLE_URL_MALFORMAT}};
    }
    return std::nullopt;
}

std::string FileNameFromUrl(const std::string& objectPath) {
    const std::string path = SplitUrl(objectPath).path;
    return DecodedUrlSegment(std::string_view(path).substr(path.rfind('/') + 1));
}

int StepOfEarlyFailure(CURLcode code, bool connected) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return RequestStep;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
        return ConnectStep;
    case CURLE_OPERATION_TIMEDOUT:
        return connected ? ResponseStep : ConnectStep;
    case CURLE_SEND_ERROR:
        return SendStep;
    default:
        return ResponseStep;
    }
}

bool IsTransientFailure(const TransferFailure& failure) {
    const auto error = failure.result.systemError;
    switch (failure.source) {
    case ErrorSource::HttpStatus:
        return error == 408 || error == 429 || error == 500 || error == 502 || error == 503 ||
               error == 504;
    case ErrorSource::Curl:
        switch (error) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

std::chrono::milliseconds RetryDelay(int retry, std::chrono::milliseconds firstDelay,
                                     std::optional<std::chrono::seconds> retryAfter) {
    if (retryAfter) {
        return std::min(*retryAfter, MaxRetryAfter);
    }
    return firstDelay * (std::int64_t{1} << std::clamp(retry - 1, 0, 30));
}

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, std::time_t now) {
    if (const std::optional<std::int64_t> seconds = ParseSize(value)) {
        return std::chrono::seconds(std::min<std::int64_t>(*seconds, MaxRetryAfter.count()));
    }
    const std::time_t date = curl_getdate(value.c_str(), nullptr);
    if (date == -1) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::clamp<std::int64_t>(date - now, 0, MaxRetryAfter.count()));
}
