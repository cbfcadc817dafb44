#pragma once

#include "DownloadTask.h"
#include "TransferControl.h"

#include <memory>

// Starts one transfer on a detached thread of its own, which works on a copy of the task and
// ends with TransferOwner::OnTransferFinished. Returns null when no thread could be started.
std::shared_ptr<TransferControl> StartTransfer(const DownloadTask& task);

// The body of the transfer thread.
void TransferThreadMain(DownloadTask task, std::shared_ptr<TransferControl> control);

// Performs the transfer on the calling thread and tells how it ended; a failure's step and error
// also reach the owner through SetTransferResult. A failure that may heal is retried as the task
// says, resuming from the file's size; the owner's pause ends the wait for a retry at once.
TransferEnd RunTransfer(DownloadTask& task, TransferControl& control);
