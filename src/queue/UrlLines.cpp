#include "UrlLines.h"

#include "SplitText.h"

#include <algorithm>

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
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
