#include "ContentDisposition.h"

#include "TextCompare.h"

#include <QByteArray>
#include <QString>

namespace {

constexpr char Blanks[] = " \t";

// Where the value of the first parameter called name starts: its first non-blank character
// after "=". Matching is case-sensitive, as servers that send these names write them.
std::optional<std::size_t> ValueStart(const std::string& header, const std::string& name) {
    std::size_t at = header.find(name);
    while (at != std::string::npos) {
        std::size_t equals = header.find_first_not_of(Blanks, at + name.size());
        if (equals != std::string::npos && header[equals] == '=') {
            std::size_t start = header.find_first_not_of(Blanks, equals + 1);
            if (start == std::string::npos) {
                return std::nullopt;
            }
            return start;
        }
        at = header.find(name, at + 1);
    }
    return std::nullopt;
}

std::optional<std::string> PlainFileName(const std::string& header) {
    const std::optional<std::size_t> start = ValueStart(header, "filename");
    if (!start) {
        return std::nullopt;
    }
    const char first = header[*start];
    if (first == '"' || first == '\'') {
        const std::size_t close = header.find(first, *start + 1);
        if (close == std::string::npos) {
            return std::nullopt;
        }
        return header.substr(*start + 1, close - *start - 1);
    }
    const std::size_t end = header.find_first_of(" \t;", *start);
    return header.substr(*start, end == std::string::npos ? std::string::npos : end - *start);
}

// RFC 5987 ext-value: charset'language'percent-encoded bytes.
std::optional<std::string> ExtendedFileName(const std::string& header) {
    const std::optional<std::size_t> start = ValueStart(header, "filename*");
    if (!start) {
        return std::nullopt;
    }
    const std::size_t end = header.find_first_of(" \t;", *start);
    const std::string value =
        header.substr(*start, end == std::string::npos ? std::string::npos : end - *start);
    const std::size_t charsetEnd = value.find('\'');
    const std::size_t languageEnd =
        charsetEnd == std::string::npos ? std::string::npos : value.find('\'', charsetEnd + 1);
    if (languageEnd == std::string::npos) {
        return std::nullopt;
    }
    const std::string charset = value.substr(0, charsetEnd);
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(QByteArray::fromStdString(value.substr(languageEnd + 1)));
    if (EqualsIgnoringCase(charset, "UTF-8")) {
        return QString::fromUtf8(bytes).toLocal8Bit().toStdString();
    }
    if (EqualsIgnoringCase(charset, "ISO-8859-1")) {
        return QString::fromLatin1(bytes).toLocal8Bit().toStdString();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> FileNameFromContentDisposition(const std::string& value) {
    if (std::optional<std::string> extended = ExtendedFileName(value)) {
        return extended;
    }
    return PlainFileName(value);
}
