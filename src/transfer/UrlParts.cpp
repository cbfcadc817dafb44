#include "UrlParts.h"

#include <string_view>

namespace {

constexpr std::string_view SchemeEnd = "://";
constexpr char PathSeparator = '/';
constexpr std::string_view SuffixStart = "?#";
constexpr std::string_view HostEnd = "/?#";

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
