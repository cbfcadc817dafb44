#include "FailureRules.h"

#include "ResponseRules.h"
#include "TransferResult.h"

#include <algorithm>

int StepOfEarlyFailure(CURLcode code, bool connected) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return RequestStep;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
        return ConnectStep;
    case CURLE_OPERATION_TIMEDOUT:
        return connected ? ResponseStep : ConnectStep;
    case CURLE_SEND_ERROR:
        return SendStep;
    default:
        return ResponseStep;
    }
}

bool IsTransientFailure(const TransferFailure& failure) {
    const auto error = failure.result.systemError;
    switch (failure.source) {
    case ErrorSource::HttpStatus:
        return error == 408 || error == 429 || error == 500 || error == 502 || error == 503 ||
               error == 504;
    case ErrorSource::Curl:
        switch (error) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

std::chrono::milliseconds RetryDelay(int retry, std::chrono::milliseconds firstDelay,
                                     std::optional<std::chrono::seconds> retryAfter) {
    if (retryAfter) {
        return std::min(*retryAfter, MaxRetryAfter);
    }
    return firstDelay * (std::int64_t{1} << std::clamp(retry - 1, 0, 30));
}

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, std::time_t now) {
    if (const std::optional<std::int64_t> seconds = ParseSize(value)) {
        return std::chrono::seconds(std::min<std::int64_t>(*seconds, MaxRetryAfter.count()));
    }
    const std::time_t date = curl_getdate(value.c_str(), nullptr);
    if (date == -1) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::clamp<std::int64_t>(date - now, 0, MaxRetryAfter.count()));
}
