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
// the alphabet (nothing changes when count <= 0 or the alphabet has fewer than 2 characters).
// The choice follows a 15-bit generator local to the call, seeded with the given value, so the
// same text, count, alphabet and seed always give the same result, on any thread:
// the positions come from the descending list n-1, ..., 0 shuffled by exchanging entry i with
// entry (r mod i) for i = 1, ..., n-1; the first count entries are changed, each to
// alphabet[r] when the old character is found in the alphabet after index r, else to
// alphabet[r + 1], with r = rand mod (m - 1).
void ScrambleHexDigits(std::string& text, int count, std::string_view alphabet, std::uint32_t seed);

// The value of the "Control: " request header: the MD5 of the object path (the bytes before a
// terminating zero, exactly as requested: path, query and fragment) with ten digits changed,
// seeded from the steady millisecond clock (32 bits).
std::string MakeRequestToken(const std::string& objectPath);

// The same with a given seed: tokens made with the same seed for the same path are equal.
std::string MakeRequestToken(const std::string& objectPath, std::uint32_t seed);
