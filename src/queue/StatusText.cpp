#include "StatusText.h"

#include "DownloadTask.h"
#include "RowText.h"
#include "TextCompare.h"
#include "UrlParts.h"

#include <curl/curl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

std::string Format(const char* format, double value, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, format, value, unit);
    return text;
}

// The server's name of a URL, without user information.
std::string HostOf(const std::string& url) {
    const std::string host = SplitUrl(url).hostName;
    return host.substr(host.rfind('@') + 1);
}

// "host:port" of a URL, the port the scheme's default when it names none.
std::string HostAndPort(const std::string& url) {
    const UrlParts parts = SplitUrl(url);
    const int port = parts.port != 0                             ? parts.port
                     : EqualsIgnoringCase(parts.scheme, "https") ? 443
                                                                 : 80;
    return HostOf(url) + ":" + std::to_string(port);
}

const char* ReasonPhrase(std::uint32_t status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 410:
        return "Gone";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return nullptr;
    }
}

std::string ConnectFailureText(int connectErrno) {
    switch (connectErrno) {
    case ECONNREFUSED:
        return ": connection refused";
    case EHOSTUNREACH:
        return ": no route to host";
    case ENETUNREACH:
        return ": the network is unreachable";
    case ETIMEDOUT:
        return ": no answer";
    default:
        return "";
    }
}

std::string CurlFailureText(const TransferFailure& failure, const std::string& url) {
    const auto seconds = [](std::chrono::milliseconds limit) {
        return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    };
    switch (static_cast<CURLcode>(failure.result.systemError)) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        if (!failure.redirectTarget.empty()) {
            return "The server sent the download to " + WithoutPassword(failure.redirectTarget) +
                   ", which is not supported";
        }
        return "Unsupported address: " + url;
    case CURLE_URL_MALFORMAT:
        return "Invalid address: " + url;
    case CURLE_COULDNT_RESOLVE_HOST:
        return "Could not find the server " + HostOf(url);
    case CURLE_COULDNT_CONNECT:
        return "Could not connect to " + HostAndPort(url) +
               ConnectFailureText(failure.connectErrno);
    case CURLE_OPERATION_TIMEDOUT:
        if (failure.result.code == ConnectStep) {
            return "Could not connect to " + HostAndPort(url) + " within " +
                   seconds(DownloadTask{}.connectTimeout) + " s";
        }
        return "No data for " + seconds(DownloadTask{}.stallTimeout) + " s";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return "The certificate of " + HostOf(url) + " could not be verified";
    case CURLE_SSL_CONNECT_ERROR:
        return "The secure connection to " + HostAndPort(url) + " failed";
    case CURLE_SEND_ERROR:
        return "The connection to " + HostAndPort(url) + " broke off while sending the request";
    case CURLE_RECV_ERROR:
        return "The connection to " + HostAndPort(url) + " was reset";
    case CURLE_GOT_NOTHING:
        return "The server closed the connection without an answer";
    case CURLE_PARTIAL_FILE:
        return "The connection broke off before the end of the file";
    case CURLE_TOO_MANY_REDIRECTS:
        return "Too many redirects";
    case CURLE_OUT_OF_MEMORY: // libcurl's answer to headers over its limit
        if (failure.result.code == ResponseStep) {
            return "The server's answer was too large";
        }
        break;
    case CURLE_WEIRD_SERVER_REPLY:
        return "The server's answer could not be understood";
    default:
        break;
    }
    return std::string("The download failed: ") +
           curl_easy_strerror(static_cast<CURLcode>(failure.result.systemError));
}

std::string FileFailureText(const TransferFailure& failure) {
    const int error = static_cast<int>(failure.result.systemError);
    if (failure.source == ErrorSource::FileMove) {
        return std::string("The finished file could not be moved to its name: ") +
               std::strerror(error);
    }
    switch (error) {
    case ENOSPC:
        return "The disk is full";
    case EDQUOT:
        return "The disk quota is used up";
    case EACCES:
    case EPERM:
    case EROFS:
        return "The folder can not be written to";
    case ENOENT:
        return "The folder is gone";
    case EBADF:
        return "The temporary file could not be opened";
    default:
        return std::string("The file could not be written: ") + std::strerror(error);
    }
}

std::string RunningText(const TransferActivity& activity, const std::string& url) {
    if (activity.retry > 0 && activity.failure) {
        return "Retry " + std::to_string(activity.retry) + " of " +
               std::to_string(activity.retries) + " in " + std::to_string(activity.retryInSeconds) +
               " s: " + FailureText(*activity.failure, url);
    }
    std::string text = ByteText(activity.received);
    if (activity.total > 0) {
        text += " of " + ByteText(activity.total);
    }
    text += ", " + SpeedText(activity.bytesPerSecond);
    if (activity.connections > 1) {
        text += ", " + std::to_string(activity.connections) + " connections";
    }
    if (activity.speedLimit > 0) {
        text += ", limited to " + SpeedLimitText(activity.speedLimit);
    }
    if (activity.total > activity.received && activity.bytesPerSecond > 0) {
        // Rounded up by the remainder: adding the divisor first could overflow near the maximum.
        const std::int64_t left = activity.total - activity.received;
        const std::int64_t seconds = left / activity.bytesPerSecond;
        text += ", " + TimeLeftText(seconds + (left % activity.bytesPerSecond != 0 ? 1 : 0));
    }
    return text;
}

} // namespace

std::string ByteText(std::int64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + " B";
    }
    static constexpr const char* Units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    // Past 999.95 the value would show as 1000.0 of this unit.
    while (value >= 999.95 && unit + 1 < std::size(Units)) {
        value /= 1000;
        ++unit;
    }
    return Format("%.1f %s", value, Units[unit]);
}

std::string SpeedText(std::int64_t bytesPerSecond) {
    return ByteText(bytesPerSecond) + "/s";
}

std::string SpeedLimitText(std::int64_t bytesPerSecond) {
    std::string text = ByteText(bytesPerSecond);
    if (const std::size_t wholeUnits = text.find(".0 "); wholeUnits != std::string::npos) {
        text.erase(wholeUnits, 2);
    }
    return text + "/s";
}

std::string TimeLeftText(std::int64_t seconds) {
    if (seconds < 60) {
        return std::to_string(seconds) + " s left";
    }
    if (seconds < 3600) {
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s left";
    }
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min left";
}

std::string FailureText(const TransferFailure& failure, const std::string& url) {
    switch (failure.source) {
    case ErrorSource::HttpStatus: {
        const std::string status = std::to_string(failure.result.systemError);
        const char* phrase = ReasonPhrase(failure.result.systemError);
        return "The server answered " + status + (phrase ? std::string(" ") + phrase : "");
    }
    case ErrorSource::Curl:
        return CurlFailureText(failure, url);
    default:
        return FileFailureText(failure);
    }
}

std::string StatusText(const DownloadItem& item, const ItemRun* run) {
    const std::string url = WithoutPassword(item.url);
    const TransferEnd* end = run != nullptr && run->end ? &*run->end : nullptr;
    std::string line;
    switch (item.state) {
    case DownloadState::Progress:
        // Only a row loaded from the list is Progress without a transfer that reports.
        line = run != nullptr && run->activity ? RunningText(*run->activity, url)
                                               : "Not running: Pause, then Start resumes it";
        break;
    case DownloadState::Error:
        line = end != nullptr && end->failure.result.code != CompletedStep
                   ? FailureText(end->failure, url)
                   : "The download failed";
        break;
    case DownloadState::Done:
        // A row loaded from the list only knows its name and where its temporary file was.
        line = "Saved as " +
               (end != nullptr && !end->savedPath.empty() ? end->savedPath : SavedFilePath(item));
        break;
    case DownloadState::Pause:
        line = "Paused with " + ByteText(end != nullptr ? end->keptBytes : 0) +
               (item.totalSize > 0 ? " of " + ByteText(item.totalSize) : "") + " kept";
        break;
    default:
        line = url;
        break;
    }
    const std::string name = ShownFileName(item);
    return line == name ? line : name + "\n" + line;
}

std::string OpenFailureText(const std::string& path, bool openerMissing) {
    return "Could not open " + path +
           (openerMissing ? ": xdg-open is missing (it comes with xdg-utils)" : "");
}
