#include "CurlRequest.h"

#include "ConnectionShare.h"

#include "ProgramVersion.h"
#include "TextCompare.h"

#include <cstdlib>
#include <mutex>

namespace {

// What libcurl receives at once: four times fewer socket reads per file than 4096 bytes.
constexpr long ReceiveSize = 64 * 1024;
constexpr long MaxRedirects = 10;
constexpr char AllowedProtocols[] = "http,https";

} // namespace

void InitializeCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlRequest::CurlRequest() {
    InitializeCurl();
}

CurlRequest::~CurlRequest() {
    ReleaseHandle();
}

void CurlRequest::ReleaseHandle() {
    if (connections_ != nullptr && handle_ && endedCleanly_) {
        connections_->KeepEasyHandle(handle_.release());
    }
    handle_.reset();
    endedCleanly_ = false;
}

TransferResult CurlRequest::Prepare(const RequestOptions& options, RequestReceiver& receiver) {
    ReleaseHandle();
    connections_ = options.connections;
    handle_.reset(connections_ != nullptr ? connections_->TakeEasyHandle() : curl_easy_init());
    if (!handle_) {
        return {NoHandleStep, CURLE_FAILED_INIT};
    }
    headers_.reset();
    for (const std::string& line : options.headers) {
        // The list keeps its head; only the first append makes it.
        curl_slist* head = curl_slist_append(headers_.get(), line.c_str());
        if (head == nullptr) {
            return {OptionsStep, CURLE_OUT_OF_MEMORY};
        }
        if (!headers_) {
            headers_.reset(head);
        }
    }
    const std::string agent(ProgramTitle);
    CURLcode result = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle_.get(), option, value);
        }
    };
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_HTTPHEADER, headers_.get());
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, AllowedProtocols);
    set(CURLOPT_REDIR_PROTOCOLS_STR, AllowedProtocols);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, MaxRedirects);
    set(CURLOPT_BUFFERSIZE, ReceiveSize);
    if (connections_ != nullptr && connections_->Handle() != nullptr) {
        set(CURLOPT_SHARE, connections_->Handle());
    }
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    set(CURLOPT_WRITEFUNCTION, &CurlRequest::OnWrite);
    set(CURLOPT_WRITEDATA, &receiver);
    set(CURLOPT_XFERINFOFUNCTION, &CurlRequest::OnProgress);
    set(CURLOPT_XFERINFODATA, &receiver);
    set(CURLOPT_NOPROGRESS, 0L);
    if (const char* bundle = std::getenv("SSL_CERT_FILE"); bundle != nullptr && *bundle != '\0') {
        set(CURLOPT_CAINFO, bundle);
    }
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0') {
        set(CURLOPT_CAPATH, folder);
    }
    if (result != CURLE_OK) {
        return {OptionsStep, static_cast<std::uint32_t>(result)};
    }
    if (curl_easy_setopt(handle_.get(), CURLOPT_URL, options.url.c_str()) != CURLE_OK) {
        return {RequestStep, CURLE_URL_MALFORMAT};
    }
    return {};
}

CURLcode CurlRequest::Perform() {
    const CURLcode code = curl_easy_perform(handle_.get());
    endedCleanly_ = code == CURLE_OK;
    return code;
}

long CurlRequest::Status() const {
    long status = 0;
    curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::optional<std::string> CurlRequest::Header(const char* name) const {
    curl_header* header = nullptr;
    if (curl_easy_header(handle_.get(), name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    // libcurl hands an empty value over as "\r"; other values come without their blanks.
    std::string value = header->value;
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    return value;
}

int CurlRequest::ConnectErrno() const {
    long error = 0;
    curl_easy_getinfo(handle_.get(), CURLINFO_OS_ERRNO, &error);
    return static_cast<int>(error);
}

std::string CurlRequest::EffectiveUrl() const {
    const char* url = nullptr;
    curl_easy_getinfo(handle_.get(), CURLINFO_EFFECTIVE_URL, &url);
    return url != nullptr ? url : "";
}

bool CurlRequest::IsConnected() const {
    curl_off_t connectTime = 0;
    curl_easy_getinfo(handle_.get(), CURLINFO_CONNECT_TIME_T, &connectTime);
    if (connectTime == 0) {
        return false;
    }
    const char* scheme = nullptr;
    curl_easy_getinfo(handle_.get(), CURLINFO_SCHEME, &scheme);
    if (scheme != nullptr && EqualsIgnoringCase(scheme, "https")) {
        curl_off_t handshakeTime = 0;
        curl_easy_getinfo(handle_.get(), CURLINFO_APPCONNECT_TIME_T, &handshakeTime);
        return handshakeTime != 0;
    }
    return true;
}

std::size_t CurlRequest::OnWrite(char* data, std::size_t size, std::size_t count, void* receiver) {
    return static_cast<RequestReceiver*>(receiver)->OnBody(data, size * count) ? size * count : 0;
}

int CurlRequest::OnProgress(void* receiver, curl_off_t, curl_off_t received, curl_off_t,
                            curl_off_t) {
    return static_cast<RequestReceiver*>(receiver)->OnPoll(received) ? 0 : 1;
}
