#include "Transfer.h"

#include "FailureRules.h"
#include "OutputFiles.h"
#include "TransferAttempt.h"

#include <system_error>
#include <thread>

namespace {

// Waits out the delay before a retry, telling the owner each second how long is left. False
// when a pause or the end of the owner cut the wait short.
bool WaitToRetry(TransferControl& control, std::chrono::milliseconds delay,
                 TransferActivity activity) {
    using Clock = std::chrono::steady_clock;
    const auto due = Clock::now() + delay;
    std::int64_t shownSeconds = -1;
    for (auto now = Clock::now(); now < due; now = Clock::now()) {
        if (control.IsStopWanted()) {
            return false;
        }
        activity.retryInSeconds = std::chrono::ceil<std::chrono::seconds>(due - now).count();
        if (activity.retryInSeconds != shownSeconds) {
            shownSeconds = activity.retryInSeconds;
            control.ReportToOwner(
                [&activity](TransferOwner& owner) { owner.SetActivity(activity); });
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(due - now, std::chrono::milliseconds(100)));
    }
    return true;
}

} // namespace

std::shared_ptr<TransferControl> StartTransfer(const DownloadTask& task) {
    auto control = std::make_shared<TransferControl>(task.owner);
    try {
        std::thread(TransferThreadMain, task, control).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return control;
}

void TransferThreadMain(DownloadTask task, std::shared_ptr<TransferControl> control) {
    const TransferEnd end = RunTransfer(task, *control);
    control->ReportToOwner([&end](TransferOwner& owner) { owner.OnTransferFinished(end); });
    control->MarkFinished();
}

TransferEnd RunTransfer(DownloadTask& task, TransferControl& control) {
    SpeedMeter meter;
    const auto ended = [&task](TransferOutcome outcome) {
        TransferEnd end;
        end.outcome = outcome;
        end.keptBytes = OutputFileSize(task.fileHandle);
        return end;
    };
    for (int retry = 1;; ++retry) {
        TransferAttempt run(task, control, meter);
        const TransferOutcome outcome = run.Run();
        if (outcome == TransferOutcome::Completed) {
            TransferEnd end = ended(outcome);
            end.savedPath = run.SavedPath();
            return end;
        }
        if (outcome == TransferOutcome::Paused) {
            return ended(outcome);
        }
        if (retry > task.retries || !IsTransientFailure(run.Failure())) {
            TransferEnd end = ended(outcome);
            end.failure = run.Failure();
            return end;
        }
        TransferActivity activity = run.Activity();
        activity.failure = run.Failure();
        activity.retry = retry;
        activity.retries = task.retries;
        if (!WaitToRetry(control, RetryDelay(retry, task.firstRetryDelay, run.RetryAfter()),
                         activity)) {
            control.ReportToOwner(
                [](TransferOwner& owner) { owner.SetTransferResult(CompletedStep, 0); });
            return ended(TransferOutcome::Paused);
        }
        // The next attempt resumes under the same rules as any resume.
        task.knownSize = activity.total;
        task.resumeOffset = OutputFileSize(task.fileHandle);
    }
}
