#pragma once

#include "CurlRequest.h"
#include "DownloadTask.h"
#include "TransferControl.h"
#include "TransferResult.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One transfer on the calling thread: the request, the answer's checks, the body into the
// temporary file, and the completion. Everything it learns goes to the owner through control.
class TransferRun : private RequestReceiver {
public:
    TransferRun(DownloadTask& task, TransferControl& control);

    TransferOutcome Run();

private:
    enum class Stop { None, Pause, Failure, StartAgain, AlreadyComplete };

    bool OnBody(const char* data, std::size_t size) override;
    bool OnPoll(std::int64_t bytesReceived) override;

    template <typename Call> void Report(Call call) { control_.ReportToOwner(call); }

    std::vector<std::string> RequestHeaders() const;
    bool HandleHeaders();
    bool Receive(const char* data, std::size_t size);
    bool WritePending();
    bool PauseRequested();
    void StopWith(Stop stop, int code = 0, std::uint32_t error = 0);
    std::string Validator() const;
    void NameFile();
    void StartFileAgain();
    TransferOutcome Fail(int code, std::uint32_t error);
    TransferOutcome Complete();

    DownloadTask& task_;
    TransferControl& control_;
    CurlRequest request_;
    std::string target_;
    bool resuming_ = false;
    bool headersHandled_ = false;
    std::int64_t received_ = 0;
    std::int64_t total_ = 0;
    long status_ = 0;
    std::string adoptedName_;
    std::vector<char> pending_;
    std::int64_t bytesSeen_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    Stop stop_ = Stop::None;
    TransferResult failure_;
};
