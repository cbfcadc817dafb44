#include "FileNames.h"

#include <QByteArray>
#include <QStringDecoder>

#include <algorithm>

namespace {

// UTF-8 encodings of the format characters that hide or reorder what a name shows.
constexpr std::string_view HiddenCharacters[] = {
    "\u200B", "\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D",
    "\u202E", "\u2066", "\u2067", "\u2068", "\u2069", "\uFEFF",
};

constexpr std::string_view TrimmedAtEnds = " .";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

std::string WithoutHiddenCharacters(std::string_view name) {
    std::string visible;
    visible.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const auto hidden = std::find_if(
            std::begin(HiddenCharacters), std::end(HiddenCharacters),
            [&](std::string_view character) { return name.substr(at).starts_with(character); });
        if (hidden != std::end(HiddenCharacters)) {
            at += hidden->size();
        } else {
            visible += name[at++];
        }
    }
    return visible;
}

std::size_t ExtensionStart(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 || dot + 1 == name.size() ? name.size() : dot;
}

// The first bytes of text, at most length of them, never half a UTF-8 character.
std::string WholeCharacters(const std::string& text, std::size_t length) {
    if (length >= text.size()) {
        return text;
    }
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return text.substr(0, length);
}

std::string FitParts(const std::string& stem, const std::string& tail, std::size_t limit) {
    if (stem.size() + tail.size() <= limit) {
        return stem + tail;
    }
    if (tail.size() < limit) {
        return WholeCharacters(stem, limit - tail.size()) + tail;
    }
    return WholeCharacters(stem + tail, limit);
}

} // namespace

std::string SafeFileName(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos) {
        name.remove_prefix(separator + 1);
    }
    const std::string visible = WithoutHiddenCharacters(name);
    const std::size_t first = visible.find_first_not_of(TrimmedAtEnds);
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = visible.find_last_not_of(TrimmedAtEnds);
    std::string safe = visible.substr(first, last - first + 1);
    return std::any_of(safe.begin(), safe.end(), IsControl) ? std::string() : safe;
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
    return FitParts(name.substr(0, extension), number + name.substr(extension), limit);
}
