#include "Transfer.h"

#include "ContentDisposition.h"
#include "FileNames.h"
#include "OutputFiles.h"
#include "RequestToken.h"
#include "TextCompare.h"
#include "TransferResult.h"
#include "TransferRules.h"
#include "VersionCheck.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr long ReadSize = 4096;
// Received bytes are written in pieces of this size: one write per 4 KiB read costs a quarter of
// the throughput. Whatever is held back is written before any pause, failure or completion.
constexpr std::size_t WriteSize = 64 * 1024;
constexpr long MaxRedirects = 10;
constexpr char AllowedProtocols[] = "http,https";

struct EasyHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

void InitializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UserAgent() {
    return "Dartflux " + std::string(ProgramVersion);
}

// The scheme to use, or "" when it is none we speak.
std::string TransferScheme(const std::string& scheme) {
    if (scheme.empty() || EqualsIgnoringCase(scheme, "http")) {
        return "http";
    }
    if (EqualsIgnoringCase(scheme, "https")) {
        return "https";
    }
    return "";
}

// One transfer on the calling thread. The callbacks of libcurl land here.
class TransferRun {
public:
    TransferRun(DownloadTask& task, TransferControl& control) : task_(task), control_(control) {
        pending_.reserve(WriteSize);
    }

    int Run();

private:
    enum class Stop { None, Pause, Failure, StartAgain, AlreadyComplete };

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t bytesReceived, curl_off_t, curl_off_t);

    template <typename Call> void Report(Call call) { control_.ReportToOwner(call); }

    CURLcode Configure(CURL* handle, const HeaderList& headers);
    HeaderList RequestHeaders() const;
    bool HandleHeaders();
    bool Receive(const char* data, std::size_t size);
    bool WritePending();
    bool PauseRequested();
    std::optional<std::string> Header(const char* name) const;
    std::string Validator() const;
    void NameFile();
    void StartFileAgain();
    int Fail(int code, std::uint32_t error);
    int Complete();
    bool IsConnected() const;

    DownloadTask& task_;
    TransferControl& control_;
    CURL* handle_ = nullptr;
    std::string target_;
    bool resuming_ = false;
    bool headersHandled_ = false;
    std::int64_t received_ = 0;
    std::int64_t total_ = 0;
    long status_ = 0;
    std::string adoptedName_;
    std::vector<char> pending_;
    curl_off_t bytesSeen_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    Stop stop_ = Stop::None;
    int failureCode_ = 0;
    std::uint32_t failureError_ = 0;
};

int TransferRun::Run() {
    Report([](TransferOwner& owner) { owner.SetTransferResult(CompletedStep, 0); });

    const std::string scheme = TransferScheme(task_.scheme);
    if (scheme.empty()) {
        return Fail(RequestStep, CURLE_UNSUPPORTED_PROTOCOL);
    }
    // Without a file the body would be dropped and the item shown as done.
    if (task_.fileHandle == NoFileHandle) {
        return Fail(BodyStep, EBADF);
    }
    // Data of unknown total size cannot be validated against the server's: start afresh.
    if (task_.knownSize == 0 && OutputFileSize(task_.fileHandle) > 0) {
        StartFileAgain();
    }
    resuming_ = task_.knownSize != 0 && task_.resumeOffset != 0;

    target_ = RequestTarget(task_.objectPath);
    std::string url = scheme + "://" + task_.hostName;
    if (task_.port != 0) {
        url += ':';
        url += std::to_string(task_.port);
    }
    url += target_;

    // A refused resume (416 on a file that is not complete) is answered by one fresh request.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EasyHandle handle(curl_easy_init());
        if (!handle) {
            return Fail(NoHandleStep, CURLE_FAILED_INIT);
        }
        handle_ = handle.get();
        headersHandled_ = false;
        stop_ = Stop::None;
        bytesSeen_ = 0;
        lastActivity_ = std::chrono::steady_clock::now();
        const HeaderList headers = RequestHeaders();
        if (const CURLcode refused = Configure(handle_, headers); refused != CURLE_OK) {
            return Fail(OptionsStep, refused);
        }
        if (curl_easy_setopt(handle_, CURLOPT_URL, url.c_str()) != CURLE_OK) {
            return Fail(RequestStep, CURLE_URL_MALFORMAT);
        }

        const CURLcode code = curl_easy_perform(handle_);
        if (!WritePending()) {
            return Fail(BodyStep, failureError_);
        }
        if (stop_ == Stop::None && code == CURLE_OK && !headersHandled_) {
            HandleHeaders(); // an empty body
        }
        switch (stop_) {
        case Stop::Pause:
            return 0;
        case Stop::Failure:
            return Fail(failureCode_, failureError_);
        case Stop::AlreadyComplete:
            return Complete();
        case Stop::StartAgain:
            StartFileAgain();
            continue;
        case Stop::None:
            break;
        }
        if (code == CURLE_ABORTED_BY_CALLBACK) {
            return 0; // paused while no data flowed
        }
        if (code != CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
            // The headers arrived but the body broke off before its first byte.
            if (!headersHandled_ && status != 0 && code == CURLE_PARTIAL_FILE && !HandleHeaders() &&
                stop_ == Stop::Failure) {
                return Fail(failureCode_, failureError_);
            }
            return Fail(headersHandled_ ? BodyStep : StepOfEarlyFailure(code, IsConnected()), code);
        }
        // A pause that came with the last bytes still counts as a pause.
        if (PauseRequested()) {
            return 0;
        }
        if (received_ < total_) {
            return Fail(BodyStep, CURLE_PARTIAL_FILE);
        }
        return Complete();
    }
    return Fail(ResponseStep, static_cast<std::uint32_t>(status_));
}

HeaderList TransferRun::RequestHeaders() const {
    HeaderList headers(
        curl_slist_append(nullptr, ("Control: " + MakeRequestToken(target_)).c_str()));
    if (resuming_) {
        curl_slist_append(headers.get(),
                          ("Range: bytes=" + std::to_string(task_.resumeOffset) + "-").c_str());
        // A server whose file changed since answers with the whole new one.
        if (const std::string validator = ResumeValidator(task_.fileHandle); !validator.empty()) {
            curl_slist_append(headers.get(), ("If-Range: " + validator).c_str());
        }
    }
    return headers;
}

CURLcode TransferRun::Configure(CURL* handle, const HeaderList& headers) {
    const long connectMs = static_cast<long>(task_.connectTimeout.count());
    const std::string agent = UserAgent();
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, option, value);
        }
    };
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_HTTPHEADER, headers.get());
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, AllowedProtocols);
    set(CURLOPT_REDIR_PROTOCOLS_STR, AllowedProtocols);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, MaxRedirects);
    set(CURLOPT_BUFFERSIZE, ReadSize);
    set(CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    set(CURLOPT_WRITEFUNCTION, &TransferRun::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_XFERINFOFUNCTION, &TransferRun::OnProgress);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    // Trust the certificates the user's environment names, as OpenSSL's own tools do.
    if (const char* bundle = std::getenv("SSL_CERT_FILE"); bundle != nullptr && *bundle != '\0') {
        set(CURLOPT_CAINFO, bundle);
    }
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0') {
        set(CURLOPT_CAPATH, folder);
    }
    return result;
}

std::size_t TransferRun::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& run = *static_cast<TransferRun*>(self);
    if (!run.headersHandled_ && !run.HandleHeaders()) {
        return 0;
    }
    return run.Receive(data, size * count) ? size * count : 0;
}

int TransferRun::OnProgress(void* self, curl_off_t, curl_off_t bytesReceived, curl_off_t,
                            curl_off_t) {
    auto& run = *static_cast<TransferRun*>(self);
    if (run.stop_ != Stop::None) {
        return 1;
    }
    if (run.PauseRequested()) {
        run.stop_ = Stop::Pause;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (bytesReceived != run.bytesSeen_) {
        run.bytesSeen_ = bytesReceived;
        run.lastActivity_ = now;
    } else if (now - run.lastActivity_ > run.task_.stallTimeout) {
        run.stop_ = Stop::Failure;
        run.failureCode_ = run.headersHandled_ ? BodyStep
                           : run.IsConnected() ? ResponseStep
                                               : ConnectStep;
        run.failureError_ = CURLE_OPERATION_TIMEDOUT;
        return 1;
    }
    return 0;
}

bool TransferRun::PauseRequested() {
    if (control_.IsAbortRequested()) {
        return true;
    }
    bool paused = true; // an owner that has gone wants nothing more
    Report([&](TransferOwner& owner) { paused = owner.IsPauseRequested(); });
    return paused;
}

std::optional<std::string> TransferRun::Header(const char* name) const {
    curl_header* header = nullptr;
    if (curl_easy_header(handle_, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    return std::string(header->value);
}

bool TransferRun::IsConnected() const {
    curl_off_t connectTime = 0;
    curl_easy_getinfo(handle_, CURLINFO_CONNECT_TIME_T, &connectTime);
    if (connectTime == 0) {
        return false;
    }
    const char* scheme = nullptr;
    curl_easy_getinfo(handle_, CURLINFO_SCHEME, &scheme);
    if (scheme != nullptr && EqualsIgnoringCase(scheme, "https")) {
        curl_off_t handshakeTime = 0;
        curl_easy_getinfo(handle_, CURLINFO_APPCONNECT_TIME_T, &handshakeTime);
        return handshakeTime != 0;
    }
    return true;
}

// Runs once, on the final response's headers. False stops the transfer with stop_ set.
bool TransferRun::HandleHeaders() {
    headersHandled_ = true;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status_);
    if (const std::optional<std::string> version = Header(VersionHeaderName.data())) {
        CheckServerVersion(*version);
        // The user's time to answer is no stall of the server.
        lastActivity_ = std::chrono::steady_clock::now();
    }

    if (status_ == 416 && resuming_) {
        const std::optional<std::string> range = Header("Content-Range");
        const std::optional<std::int64_t> serverTotal =
            range ? UnsatisfiedRangeTotal(*range) : std::nullopt;
        const bool complete = OutputFileSize(task_.fileHandle) == task_.knownSize &&
                              (!serverTotal || *serverTotal == task_.knownSize);
        if (complete) {
            NameFile();
        }
        stop_ = complete ? Stop::AlreadyComplete : Stop::StartAgain;
        return false;
    }
    if (status_ < 200 || status_ > 299) {
        stop_ = Stop::Failure;
        failureCode_ = ResponseStep;
        failureError_ = static_cast<std::uint32_t>(status_);
        return false;
    }

    const BodyPlan plan = PlanBody(status_, Header("Content-Range"), Header("Content-Length"),
                                   resuming_ ? task_.resumeOffset : 0, task_.knownSize);
    if (plan.use == BodyUse::RequestAgain) {
        stop_ = Stop::StartAgain;
        return false;
    }
    NameFile();
    if (plan.use == BodyUse::Append) {
        received_ = task_.resumeOffset;
    } else {
        if (resuming_) {
            StartFileAgain();
        }
        received_ = 0;
        StoreResumeValidator(task_.fileHandle, Validator());
        Report([](TransferOwner& owner) { owner.SetProgress(0); });
    }
    total_ = plan.total;
    if (total_ != 0) {
        Report([this](TransferOwner& owner) { owner.SetTotalSize(total_); });
    }
    return true;
}

// What identifies this version of the server's file: a strong ETag, else the Last-Modified date.
std::string TransferRun::Validator() const {
    if (const std::optional<std::string> tag = Header("ETag"); tag && !tag->starts_with("W/")) {
        return *tag;
    }
    return Header("Last-Modified").value_or(std::string());
}

// The first usable of: the server's name, the URL's name, the default name.
void TransferRun::NameFile() {
    std::optional<std::string> serverName;
    if (const std::optional<std::string> header = Header("Content-Disposition")) {
        serverName = FileNameFromContentDisposition(*header);
    }
    for (const std::string& candidate :
         {serverName.value_or(std::string()), FileNameFromUrl(task_.objectPath),
          std::string(DefaultFileName)}) {
        if (std::string name = SetOutputFileName(task_.fileHandle, candidate); !name.empty()) {
            adoptedName_ = std::move(name);
            Report([this](TransferOwner& owner) { owner.SetFileName(adoptedName_); });
            return;
        }
    }
}

void TransferRun::StartFileAgain() {
    pending_.clear(); // bytes meant for the old file
    const FileHandle oldHandle = task_.fileHandle;
    task_.fileHandle = RecreateOutputFile(oldHandle);
    task_.resumeOffset = 0;
    resuming_ = false;
    Report([&](TransferOwner& owner) { owner.SetFileHandle(oldHandle, task_.fileHandle); });
    Report([](TransferOwner& owner) { owner.SetProgress(0); });
}

bool TransferRun::WritePending() {
    std::size_t written = 0;
    while (written < pending_.size()) {
        const ssize_t result =
            write(task_.fileHandle, pending_.data() + written, pending_.size() - written);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            stop_ = Stop::Failure;
            failureCode_ = BodyStep;
            failureError_ = static_cast<std::uint32_t>(result < 0 ? errno : ENOSPC);
            pending_.clear();
            return false;
        }
        written += static_cast<std::size_t>(result);
    }
    pending_.clear();
    return true;
}

bool TransferRun::Receive(const char* data, std::size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    if (pending_.size() >= WriteSize && !WritePending()) {
        return false;
    }
    received_ += static_cast<std::int64_t>(size);
    if (total_ != 0) {
        double percent = static_cast<double>(received_) * 100.0 / static_cast<double>(total_);
        if (std::isnan(percent) || percent < 0) {
            percent = 0;
        }
        const int whole = static_cast<int>(std::min(percent, 100.0));
        Report([whole](TransferOwner& owner) { owner.SetProgress(whole); });
    }
    if (PauseRequested()) {
        stop_ = Stop::Pause;
        return false;
    }
    return true;
}

int TransferRun::Fail(int code, std::uint32_t error) {
    Report([&](TransferOwner& owner) { owner.SetTransferResult(code, error); });
    return -1;
}

int TransferRun::Complete() {
    const OutputCompletion completion = CompleteOutputFile(task_.fileHandle);
    if (completion.error != 0) {
        return Fail(BodyStep, static_cast<std::uint32_t>(completion.error));
    }
    task_.fileHandle = NoFileHandle;
    Report([](TransferOwner& owner) {
        owner.SetTransferResult(CompletedStep, 0);
        owner.SetProgress(100);
    });
    if (completion.name != adoptedName_) {
        Report([&completion](TransferOwner& owner) { owner.SetFileName(completion.name); });
    }
    return 0;
}

} // namespace

std::shared_ptr<TransferControl> StartTransfer(const DownloadTask& task) {
    InitializeCurlOnce();
    auto control = std::make_shared<TransferControl>(task.owner);
    try {
        std::thread(TransferThreadMain, task, control).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return control;
}

void TransferThreadMain(DownloadTask task, std::shared_ptr<TransferControl> control) {
    RunTransfer(task, *control);
    control->ReportToOwner([](TransferOwner& owner) { owner.OnTransferFinished(); });
    control->MarkFinished();
}

int RunTransfer(DownloadTask& task, TransferControl& control) {
    InitializeCurlOnce();
    return TransferRun(task, control).Run();
}
