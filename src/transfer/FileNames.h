#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The name a download gets when neither the server nor its URL gives a usable one.
inline constexpr std::string_view DefaultFileName = "download";

// The name to use on disk for a name a server or a URL gave (UTF-8 bytes), or "" when none is
// usable: only its last path component ("/" or "\\"), without the invisible and format
// characters that make a name show as something else (bidirectional controls U+061C, U+200E,
// U+200F, U+202A..U+202E, U+2066..U+2069; zero-width U+200B..U+200D, U+2060..U+2064, U+FEFF;
// the soft hyphen U+00AD; the separators U+2028, U+2029), blanks and dots trimmed at both ends.
// A name that is then empty, that is not valid UTF-8, or that holds a control character (C0, DEL
// or C1) is not usable.
std::string SafeFileName(std::string_view name);

// A URL path segment percent-decoded, when the decoded bytes are valid UTF-8; the segment as it
// stands otherwise.
std::string DecodedUrlSegment(std::string_view segment);

// The name at most limit bytes long, never cut inside a UTF-8 character (a byte that belongs to
// none counts as a character of its own): its stem is cut so that the extension stays, but keeps
// at least its first character, the extension being cut when it must. "" when even the first
// character is too long.
std::string FitFileName(const std::string& name, std::size_t limit);

// The candidates for a taken name, fitted to limit bytes: attempt 0 is the name itself, attempt
// n >= 1 is "stem (n)ext". The extension starts at the last dot, unless that dot opens or ends
// the name: then the number goes at the end.
std::string NumberedFileName(const std::string& name, int attempt, std::size_t limit);

// The name the URL gives: its path's last segment, percent-decoded (see DecodedUrlSegment).
std::string FileNameFromUrl(const std::string& objectPath);
