#pragma once

#include "FileHandle.h"
#include "TransferActivity.h"
#include "TransferResult.h"

#include <cstdint>
#include <string>

// What a transfer reports on its download item. Every call comes from the transfer thread;
// the owner makes each one safe against its own thread.
class TransferOwner {
public:
    virtual ~TransferOwner() = default;

    // (0, 0) at every start and after a completed body; (step code, error value) on failure.
    virtual void SetTransferResult(int code, std::uint32_t error) = 0;
    virtual void SetFileName(const std::string& name) = 0;
    // 0 to 100; called after every read while the total size is known.
    virtual void SetProgress(int percent) = 0;
    virtual void SetTotalSize(std::int64_t size) = 0;
    // The transfer replaced its temporary file: whoever held oldHandle now holds newHandle.
    virtual void SetFileHandle(FileHandle oldHandle, FileHandle newHandle) = 0;
    // Bytes, speed and retries for the user to read (see TransferActivity).
    virtual void SetActivity(const TransferActivity& activity) = 0;
    // Polled after every read and at least once a second; true stops the transfer as paused.
    virtual bool IsPauseRequested() = 0;
    // The last call of every transfer, after all its reports: how it ended.
    virtual void OnTransferFinished(const TransferEnd& end) = 0;
};
