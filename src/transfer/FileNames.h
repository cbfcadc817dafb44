#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The name a download gets when neither the server nor its URL gives a usable one.
inline constexpr std::string_view DefaultFileName = "download";

// The name to use on disk for a name a server or a URL gave (UTF-8 bytes), or "" when none is
// usable: only its last path component ("/" or "\\"), without the invisible and bidirectional
// format characters that make a name show as something else (U+200B, U+200E, U+200F,
// U+202A..U+202E, U+2066..U+2069, U+FEFF), blanks and dots trimmed at both ends. A name that is
// then empty, or holds a control character, is not usable.
std::string SafeFileName(std::string_view name);

// A URL path segment percent-decoded, when the decoded bytes are valid UTF-8; the segment as it
// stands otherwise.
std::string DecodedUrlSegment(std::string_view segment);

// The name at most limit bytes long: its stem is cut at a whole UTF-8 character so that the
// extension stays; a name whose extension alone is too long is cut at its end.
std::string FitFileName(const std::string& name, std::size_t limit);

// The candidates for a taken name, fitted to limit bytes: attempt 0 is the name itself, attempt
// n >= 1 is "stem (n)ext". The extension starts at the last dot, unless that dot opens or ends
// the name: then the number goes at the end.
std::string NumberedFileName(const std::string& name, int attempt, std::size_t limit);
