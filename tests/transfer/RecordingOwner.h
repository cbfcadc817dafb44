#pragma once

#include "TransferOwner.h"
#include "TransferResult.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A transfer owner that keeps every report, for tests that look at what a transfer said.
// Fields are read after WaitUntilFinished, which orders them after the transfer's writes.
class RecordingOwner : public TransferOwner {
public:
    void SetTransferResult(int code, std::uint32_t error) override {
        std::lock_guard lock(mutex_);
        results.push_back({code, error});
    }
    void SetFileName(const std::string& name) override {
        std::lock_guard lock(mutex_);
        names.push_back(name);
    }
    void SetProgress(int percent) override {
        std::lock_guard lock(mutex_);
        progress.push_back(percent);
        progressReports.fetch_add(1);
        if (onProgress) {
            onProgress(percent);
        }
    }
    void SetTotalSize(std::int64_t size) override {
        std::lock_guard lock(mutex_);
        totals.push_back(size);
    }
    void SetFileHandle(FileHandle oldHandle, FileHandle newHandle) override {
        std::lock_guard lock(mutex_);
        handleChanges.emplace_back(oldHandle, newHandle);
    }
    bool IsPauseRequested() override { return pauseRequested.load(); }
    void OnTransferFinished(TransferOutcome ending) override {
        std::lock_guard lock(mutex_);
        outcome = ending;
        finished_ = true;
        finishedChanged_.notify_all();
    }

    bool WaitUntilFinished(std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return finishedChanged_.wait_for(lock, limit, [this] { return finished_; });
    }
    bool IsFinished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    TransferResult LastResult() const {
        return results.empty() ? TransferResult{-1, 0} : results.back();
    }

    std::vector<TransferResult> results;
    std::vector<std::string> names;
    std::vector<int> progress;
    std::vector<std::int64_t> totals;
    std::vector<std::pair<FileHandle, FileHandle>> handleChanges;
    TransferOutcome outcome = TransferOutcome::Failed;
    std::atomic<bool> pauseRequested{false};
    std::atomic<int> progressReports{0};
    std::function<void(int)> onProgress; // runs on the transfer thread

private:
    std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
};
