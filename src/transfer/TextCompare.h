#pragma once

#include <algorithm>
#include <string_view>

// ASCII letters compared without case, every other byte exactly: header names, schemes and
// charset names are ASCII.
inline bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}
