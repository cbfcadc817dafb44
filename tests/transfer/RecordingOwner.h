#pragma once

#include "TransferOwner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A transfer owner that keeps every report, for tests that look at what a transfer said. The
// fields are read after WaitUntilFinished, which orders them after the transfer's writes.
class RecordingOwner : public TransferOwner {
public:
    void SetTransferResult(int code, std::uint32_t error) override { result = {code, error}; }
    void SetFileName(const std::string& name) override { names.push_back(name); }
    void SetProgress(int percent) override {
        progress.push_back(percent);
        if (onProgress) {
            onProgress(percent);
        }
    }
    void SetTotalSize(std::int64_t size) override { totals.push_back(size); }
    void SetActivity(const TransferActivity& activity) override {
        activities.push_back(activity);
        if (onActivity) {
            onActivity(activity);
        }
    }
    void SetFileHandle(FileHandle, FileHandle) override { ++fileRestarts; }
    bool IsPauseRequested() override { return pauseRequested; }
    void OnTransferFinished(const TransferEnd& ending) override {
        std::lock_guard lock(mutex_);
        end = ending;
        outcome = ending.outcome;
        finished_ = true;
        finishedChanged_.notify_all();
    }

    bool WaitUntilFinished(std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return finishedChanged_.wait_for(lock, limit, [this] { return finished_; });
    }

    TransferResult result{-1, 0};
    TransferOutcome outcome = TransferOutcome::Failed;
    TransferEnd end;
    std::vector<std::string> names;
    std::vector<int> progress;
    std::vector<std::int64_t> totals;
    std::vector<TransferActivity> activities;
    int fileRestarts = 0;
    std::atomic<bool> pauseRequested{false};
    std::function<void(int)> onProgress; // these run on the transfer thread
    std::function<void(const TransferActivity&)> onActivity;

private:
    std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
};
