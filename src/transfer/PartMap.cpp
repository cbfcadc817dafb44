#include "PartMap.h"

#include <algorithm>
#include <charconv>

namespace {

// A decimal number at the front of text, which it then leaves out.
std::optional<std::int64_t> TakeNumber(std::string_view& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool TakeCharacter(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

} // namespace

std::optional<PartMap> PartMap::FromText(std::string_view text) {
    const std::optional<std::int64_t> total = TakeNumber(text);
    if (!total || *total == 0) {
        return std::nullopt;
    }
    PartMap map(*total);
    std::int64_t previousEnd = -1;
    while (!text.empty()) {
        std::optional<std::int64_t> begin;
        std::optional<std::int64_t> end;
        if (!TakeCharacter(text, ' ') || !(begin = TakeNumber(text)) || !TakeCharacter(text, '-') ||
            !(end = TakeNumber(text)) || *begin <= previousEnd || *begin >= *end || *end > *total) {
            return std::nullopt;
        }
        map.written_.emplace(*begin, *end);
        previousEnd = *end;
    }
    return map;
}

std::string PartMap::ToText() const {
    std::string text = std::to_string(total_);
    for (const auto& [begin, end] : written_) {
        text += ' ' + std::to_string(begin) + '-' + std::to_string(end);
    }
    return text;
}

void PartMap::Add(std::int64_t begin, std::int64_t end) {
    begin = std::max<std::int64_t>(begin, 0);
    end = std::min(end, total_);
    if (begin >= end) {
        return;
    }
    // Joins every range that overlaps or touches [begin, end).
    auto next = written_.upper_bound(begin);
    if (next != written_.begin() && std::prev(next)->second >= begin) {
        --next;
    }
    while (next != written_.end() && next->first <= end) {
        begin = std::min(begin, next->first);
        end = std::max(end, next->second);
        next = written_.erase(next);
    }
    written_.emplace(begin, end);
}

std::int64_t PartMap::WrittenBytes() const {
    std::int64_t bytes = 0;
    for (const auto& [begin, end] : written_) {
        bytes += end - begin;
    }
    return bytes;
}

std::int64_t PartMap::WrittenFromStart() const {
    const auto first = written_.begin();
    return first != written_.end() && first->first == 0 ? first->second : 0;
}

std::vector<ByteRange> PartMap::Missing() const {
    std::vector<ByteRange> gaps;
    std::int64_t at = 0;
    for (const auto& [begin, end] : written_) {
        if (begin > at) {
            gaps.push_back({at, begin});
        }
        at = end;
    }
    if (at < total_) {
        gaps.push_back({at, total_});
    }
    return gaps;
}
