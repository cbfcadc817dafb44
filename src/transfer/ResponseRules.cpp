#include "ResponseRules.h"

#include "OutputFiles.h"
#include "TextCompare.h"

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

std::string ChooseValidator(const std::optional<std::string>& etag,
                            const std::optional<std::string>& lastModified) {
    if (etag && !etag->starts_with("W/") && IsUsableValidator(*etag)) {
        return *etag;
    }
    return lastModified.value_or(std::string());
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
