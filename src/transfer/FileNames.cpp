#include "FileNames.h"

#include "UrlParts.h"

#include <QByteArray>
#include <QStringDecoder>

#include <algorithm>
#include <utility>

namespace {

// The format characters that hide, join or reorder what a name shows, as ranges of code points.
constexpr std::pair<char32_t, char32_t> HiddenCharacters[] = {
    {0x00AD, 0x00AD}, // soft hyphen
    {0x061C, 0x061C}, // Arabic letter mark
    {0x200B, 0x200F}, // zero-width space, non-joiner and joiner; directional marks
    {0x2028, 0x202E}, // line and paragraph separators; directional embeddings and overrides
    {0x2060, 0x2064}, // word joiner, invisible operators
    {0x2066, 0x2069}, // directional isolates
    {0xFEFF, 0xFEFF}, // zero-width no-break space
};

constexpr std::string_view TrimmedAtEnds = " .";

bool IsControl(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

bool IsHidden(char32_t point) {
    return std::any_of(
        std::begin(HiddenCharacters), std::end(HiddenCharacters),
        [point](const auto& range) { return point >= range.first && point <= range.second; });
}

// The length of the well-formed UTF-8 character at text[at], or 0 when the bytes there form
// none (overlong forms, surrogates and code points past U+10FFFF form none).
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return 0;
    }
    const auto byte = [&](std::size_t offset) -> unsigned {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 2;
    unsigned low = 0x80; // the second byte's range; the others are 0x80..0xBF
    unsigned high = 0xBF;
    if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else if (lead < 0xC2 || lead > 0xDF) {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t offset = 2; offset < length; ++offset) {
        if (byte(offset) < 0x80 || byte(offset) > 0xBF) {
            return 0;
        }
    }
    return length;
}

char32_t CodePoint(std::string_view character) {
    constexpr unsigned char LeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    char32_t point = static_cast<unsigned char>(character[0]) & LeadBits[character.size() - 1];
    for (const char c : character.substr(1)) {
        point = point << 6 | (static_cast<unsigned char>(c) & 0x3F);
    }
    return point;
}

// Where the character at text[at] ends; a byte that is part of no character is one of its own.
std::size_t CharacterEnd(std::string_view text, std::size_t at) {
    return std::min(text.size(), at + std::max<std::size_t>(CharacterLength(text, at), 1));
}

std::size_t ExtensionStart(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 || dot + 1 == name.size() ? name.size() : dot;
}

// The first bytes of text, at most length of them, never half a UTF-8 character.
std::string WholeCharacters(const std::string& text, std::size_t length) {
    std::size_t end = 0;
    while (end < text.size() && CharacterEnd(text, end) <= length) {
        end = CharacterEnd(text, end);
    }
    return text.substr(0, end);
}

// The stem is cut first, down to its first character, then the extension: a name never shows as
// its extension alone. The number stays, or the numbered names would all be the same.
std::string FitParts(const std::string& stem, const std::string& number,
                     const std::string& extension, std::size_t limit) {
    const std::string tail = number + extension;
    if (stem.size() + tail.size() <= limit) {
        return stem + tail;
    }
    const std::size_t first = CharacterEnd(stem, 0);
    if (first + tail.size() <= limit) {
        return WholeCharacters(stem, limit - tail.size()) + tail;
    }
    if (first + number.size() <= limit) {
        return stem.substr(0, first) + number +
               WholeCharacters(extension, limit - first - number.size());
    }
    return WholeCharacters(stem + tail, limit);
}

} // namespace

std::string SafeFileName(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos) {
        name.remove_prefix(separator + 1);
    }
    // Whole characters are removed, which can never join the bytes around them into another.
    std::string visible;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = CharacterLength(name, at);
        if (length == 0) {
            return {}; // not text: what a name shows would not be the bytes on disk
        }
        const std::string_view character = name.substr(at, length);
        const char32_t point = CodePoint(character);
        if (IsControl(point)) {
            return {};
        }
        if (!IsHidden(point)) {
            visible += character;
        }
        at += length;
    }
    const std::size_t first = visible.find_first_not_of(TrimmedAtEnds);
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = visible.find_last_not_of(TrimmedAtEnds);
    return visible.substr(first, last - first + 1);
}

std::string DecodedUrlSegment(std::string_view segment) {
    const QByteArray decoded = QByteArray::fromPercentEncoding(
        QByteArray(segment.data(), static_cast<qsizetype>(segment.size())));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = utf8.decode(decoded);
    return utf8.hasError() ? std::string(segment) : decoded.toStdString();
}

std::string FitFileName(const std::string& name, std::size_t limit) {
    return NumberedFileName(name, 0, limit);
}

std::string NumberedFileName(const std::string& name, int attempt, std::size_t limit) {
    const std::size_t extension = ExtensionStart(name);
    const std::string number = attempt > 0 ? " (" + std::to_string(attempt) + ")" : std::string();
    return FitParts(name.substr(0, extension), number, name.substr(extension), limit);
}

std::string FileNameFromUrl(const std::string& objectPath) {
    const std::string path = SplitUrl(objectPath).path;
    return DecodedUrlSegment(std::string_view(path).substr(path.rfind('/') + 1));
}
