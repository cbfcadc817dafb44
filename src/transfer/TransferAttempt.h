#pragma once

#include "CurlRequest.h"
#include "DownloadTask.h"
#include "ResponseRules.h"
#include "SpeedMeter.h"
#include "TransferActivity.h"
#include "TransferControl.h"
#include "TransferProgress.h"
#include "TransferResult.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One attempt of a transfer on the calling thread: the request, the answer's checks, the body
// into the temporary file, and the completion. Everything it learns goes to the owner through
// control; the bytes it receives are counted on meter, which outlives the attempt.
class TransferAttempt : private RequestReceiver {
public:
    TransferAttempt(DownloadTask& task, TransferControl& control, SpeedMeter& meter);

    TransferOutcome Run();

    // After a failed Run: why, and how long the server asked to wait before a retry.
    const TransferFailure& Failure() const { return failure_; }
    std::optional<std::chrono::seconds> RetryAfter() const { return retryAfter_; }
    // After a completed Run: where the file is now.
    const std::string& SavedPath() const { return savedPath_; }
    // Bytes in the file, the whole size (0 while unknown) and the speed, as of now.
    TransferActivity Activity() { return progress_.Activity(); }

private:
    enum class Stop { None, Pause, Failure, StartAgain, AlreadyComplete, Split };

    bool OnBody(const char* data, std::size_t size) override;
    bool OnPoll(std::int64_t bytesReceived) override;

    template <typename Call> void Report(Call call) { control_.ReportToOwner(call); }

    std::vector<std::string> RequestHeaders() const;
    bool HandleHeaders();
    bool Receive(const char* data, std::size_t size);
    bool WritePending();
    bool PauseRequested() { return control_.IsStopWanted(); }
    void StopWith(Stop stop, int code = 0, std::uint32_t error = 0,
                  ErrorSource source = ErrorSource::Curl);
    // Whether the answer just taken is one to go on with over several connections.
    bool IsSplitWanted(const BodyPlan& plan);
    // The rest of the file over several connections; StartAgain when it must start over.
    std::optional<TransferOutcome> RunSplit(const std::string& url);
    void NameFile();
    void StartFileAgain();
    TransferOutcome Fail(int code, std::uint32_t error, ErrorSource source = ErrorSource::Curl);
    TransferOutcome Fail(const TransferFailure& failure);
    TransferOutcome Complete();

    DownloadTask& task_;
    TransferControl& control_;
    TransferProgress progress_;
    CurlRequest request_;
    std::string target_;
    bool resuming_ = false;
    bool headersHandled_ = false;
    long status_ = 0;
    std::string adoptedName_;
    std::string savedPath_;
    std::vector<char> pending_;
    std::int64_t bytesSeen_ = 0;
    std::chrono::steady_clock::time_point lastActivity_;
    Stop stop_ = Stop::None;
    bool splitAllowed_ = true; // not after the server's file changed in this attempt
    TransferFailure failure_;
    std::optional<std::chrono::seconds> retryAfter_;
};
