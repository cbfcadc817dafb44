#include "UrlParts.h"

namespace {

constexpr std::string_view SchemeEnd = "://";
constexpr char PathSeparator = '/';
constexpr std::string_view DefaultPath = "/";
constexpr std::string_view SuffixStart = "?#";

} // namespace

UrlParts SplitUrl(const std::string& url)
{
    UrlParts parts;

    // Steps 1 and 2: a scheme counts only when its "://" holds the first "/" of the URL.
    const std::size_t schemeAt = url.find(SchemeEnd);
    const std::size_t firstSlash = url.find(PathSeparator);
    std::size_t hostStart = 0;
    if (schemeAt != std::string::npos && firstSlash > schemeAt) {
        hostStart = schemeAt + SchemeEnd.size();
    }

    // Steps 3 and 4: no "/" after the host leaves the default path and no suffix.
    const std::size_t pathStart = url.find(PathSeparator, hostStart);
    if (pathStart == std::string::npos) {
        parts.host = url.substr(hostStart);
        parts.path = DefaultPath;
        return parts;
    }

    // Steps 5 and 6.
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
