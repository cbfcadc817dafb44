#include "RequestRules.h"

#include "TextCompare.h"
#include "TransferResult.h"

#include <curl/curl.h>

std::string RequestTarget(std::string_view objectPath) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    static constexpr std::string_view Unsafe = "\"<>\\^`{|}";
    std::string target;
    for (const char c : objectPath.substr(0, objectPath.find('#'))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || Unsafe.find(c) != std::string_view::npos) {
            target += '%';
            target += Hex[byte >> 4];
            target += Hex[byte & 0x0F];
        } else {
            target += c;
        }
    }
    return target.empty() ? "/" : target;
}

std::string RequestUrl(std::string_view scheme, std::string_view hostName, int port,
                       std::string_view target) {
    std::string url = EqualsIgnoringCase(scheme, "https") ? "https://" : "http://";
    url += hostName;
    if (port != 0) {
        url += ':' + std::to_string(port);
    }
    return url += target;
}

std::optional<TransferFailure> AddressFailure(std::string_view scheme, std::string_view host) {
    if (!scheme.empty() && !EqualsIgnoringCase(scheme, "http") &&
        !EqualsIgnoringCase(scheme, "https")) {
        return TransferFailure{{RequestStep, CURLE_UNSUPPORTED_PROTOCOL}};
    }
    const std::size_t at = host.rfind('@');
    host.remove_prefix(at == std::string_view::npos ? 0 : at + 1);
    const std::size_t bracket = host.rfind(']');
    if (host.empty() ||
        host.find(':', bracket == std::string_view::npos ? 0 : bracket) != std::string::npos) {
        return TransferFailure{{RequestStep, CURLE_URL_MALFORMAT}};
    }
    return std::nullopt;
}
