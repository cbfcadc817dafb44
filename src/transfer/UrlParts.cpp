#include "UrlParts.h"

#include <string_view>

namespace {

constexpr std::string_view SchemeEnd = "://";
constexpr char PathSeparator = '/';
constexpr std::string_view SuffixStart = "?#";
constexpr std::string_view HostEnd = "/?#";
constexpr int MaxPort = 65535;

// A port of one to five digits within range; 0 otherwise.
int ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
        return 0;
    }
    const int port = std::stoi(std::string(text));
    return port <= MaxPort ? port : 0;
}

// Takes a valid port off the host.
void SplitPort(UrlParts& parts) {
    parts.hostName = parts.host;
    const std::size_t at = parts.host.rfind('@');
    const std::size_t hostStart = at == std::string::npos ? 0 : at + 1;
    const std::size_t bracketEnd = parts.host.rfind(']');
    const std::size_t colon = parts.host.rfind(':');
    if (colon != std::string::npos && colon >= hostStart &&
        (bracketEnd == std::string::npos || colon > bracketEnd)) {
        parts.port = ParsePort(std::string_view(parts.host).substr(colon + 1));
        if (parts.port != 0) {
            parts.hostName.erase(colon);
        }
    }
}

} // namespace

UrlParts SplitUrl(const std::string& url) {
    UrlParts parts;

    // "://" ends a scheme only when nothing that ends a host comes before it.
    const std::size_t schemeAt = url.find(SchemeEnd);
    std::size_t hostStart = 0;
    if (schemeAt != std::string::npos && url.find_first_of(HostEnd) > schemeAt) {
        parts.scheme = url.substr(0, schemeAt);
        hostStart = schemeAt + SchemeEnd.size();
    }

    const std::size_t hostEnd = url.find_first_of(HostEnd, hostStart);
    parts.host = url.substr(hostStart,
                            hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    SplitPort(parts);
    if (hostEnd == std::string::npos || url[hostEnd] != PathSeparator) {
        parts.path.assign(1, PathSeparator);
        parts.suffix = hostEnd == std::string::npos ? std::string() : url.substr(hostEnd);
        return parts;
    }
    const std::size_t suffixStart = url.find_first_of(SuffixStart, hostEnd);
    parts.path = url.substr(hostEnd, suffixStart == std::string::npos ? std::string::npos
                                                                      : suffixStart - hostEnd);
    if (suffixStart != std::string::npos) {
        parts.suffix = url.substr(suffixStart);
    }
    return parts;
}

std::string WithoutPassword(const std::string& url) {
    const UrlParts parts = SplitUrl(url);
    const std::size_t userEnd = parts.host.rfind('@');
    const std::size_t passwordStart = parts.host.find(':');
    if (userEnd == std::string::npos || passwordStart > userEnd) {
        return url;
    }
    const std::size_t hostStart = parts.scheme.empty() ? 0 : parts.scheme.size() + SchemeEnd.size();
    return std::string(url).erase(hostStart + passwordStart, userEnd - passwordStart);
}
