#include "DownloadTask.h"

#include "UrlParts.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int MaxPort = 65535;

// A port of one to five digits within range; 0 otherwise.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return 0;
    }
    const int port = std::stoi(text);
    return port <= MaxPort ? port : 0;
}

} // namespace

void SetTaskAddress(DownloadTask& task, const std::string& url) {
    const UrlParts parts = SplitUrl(url);
    task.scheme = parts.scheme;
    task.hostName = parts.host;
    task.port = 0;
    const std::size_t hostStart =
        parts.host.rfind('@') == std::string::npos ? 0 : parts.host.rfind('@') + 1;
    const std::size_t bracketEnd = parts.host.rfind(']');
    const std::size_t colon = parts.host.rfind(':');
    if (colon != std::string::npos && colon >= hostStart &&
        (bracketEnd == std::string::npos || colon > bracketEnd)) {
        const int port = ParsePort(parts.host.substr(colon + 1));
        if (port != 0) {
            task.port = port;
            task.hostName = parts.host.substr(0, colon);
        }
    }
    task.objectPath = parts.path + parts.suffix;
}
