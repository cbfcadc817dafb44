#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view HexAlphabet = "0123456789abcdef";
inline constexpr int ScrambledDigitCount = 10;

// MD5 (RFC 1321) of the bytes, as 32 lower-case hexadecimal digits.
std::string Md5Hex(const char* data, std::size_t length);

// Changes min(count, text length) distinct characters of the text, each to another character of
// the alphabet. The choice follows a 15-bit generator seeded with the given value.
void ScrambleHexDigits(std::string& text, int count, std::string_view alphabet,
                       std::uint32_t seed);

// The value of the "Control: " request header: the MD5 of the object path with ten digits
// changed, seeded from the millisecond clock.
std::string MakeRequestToken(const std::string& objectPath);
