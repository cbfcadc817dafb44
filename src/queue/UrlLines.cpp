#include "UrlLines.h"

#include "SplitText.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool HasScheme(const std::string& line) {
    const std::size_t end = line.find("://");
    const auto isSchemeChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    };
    return end != std::string::npos && end + 3 < line.size() &&
           std::isalpha(static_cast<unsigned char>(line[0])) &&
           std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(end), isSchemeChar);
}

} // namespace

std::vector<std::string> UrlLines(const std::string& text) {
    std::vector<std::string> lines;
    SplitText(lines, text, "\r\n");
    std::vector<std::string> urls;
    urls.reserve(lines.size());
    for (std::string& line : lines) {
        line.erase(std::remove_if(line.begin(), line.end(), IsControl), line.end());
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos) {
            urls.push_back(line.substr(first, line.find_last_not_of(' ') - first + 1));
        }
    }
    return urls;
}

std::string SchemeUrlText(const std::string& text) {
    std::string urls;
    for (const std::string& line : UrlLines(text)) {
        if (HasScheme(line)) {
            urls += urls.empty() ? line : "\n" + line;
        }
    }
    return urls;
}

DownloadItems UrlItems(const std::string& text) {
    DownloadItems items;
    for (std::string& url : UrlLines(text)) {
        auto item = std::make_unique<DownloadItem>();
        item->fileName = url;
        item->url = std::move(url);
        items.push_back(std::move(item));
    }
    return items;
}
