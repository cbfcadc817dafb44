#include "UrlParts.h"

namespace {

constexpr std::string_view SchemeEnd = "://";
constexpr char PathSeparator = '/';
constexpr std::string_view SuffixStart = "?#";

} // namespace

UrlParts SplitUrl(const std::string& url) {
    UrlParts parts;

    // A scheme counts only when its "://" holds the first "/" of the URL.
    const std::size_t schemeAt = url.find(SchemeEnd);
    const std::size_t firstSlash = url.find(PathSeparator);
    std::size_t hostStart = 0;
    if (schemeAt != std::string::npos && firstSlash > schemeAt) {
        hostStart = schemeAt + SchemeEnd.size();
    }

    // No "/" after the host leaves the default path and no suffix.
    const std::size_t pathStart = url.find(PathSeparator, hostStart);
    if (pathStart == std::string::npos) {
        parts.host = url.substr(hostStart);
        parts.path.assign(1, PathSeparator);
        return parts;
    }

    parts.host = url.substr(hostStart, pathStart - hostStart);
    const std::size_t suffixStart = url.find_first_of(SuffixStart, pathStart);
    if (suffixStart == std::string::npos) {
        parts.path = url.substr(pathStart);
    } else {
        parts.path = url.substr(pathStart, suffixStart - pathStart);
        parts.suffix = url.substr(suffixStart);
    }
    return parts;
}
