#pragma once

#include "DownloadTask.h"
#include "TransferControl.h"

#include <memory>

// Starts one transfer on a detached thread of its own, which works on a copy of the task and
// ends with TransferOwner::OnTransferFinished. Returns null when no thread could be started.
std::shared_ptr<TransferControl> StartTransfer(const DownloadTask& task);

// The body of the transfer thread.
void TransferThreadMain(DownloadTask task, std::shared_ptr<TransferControl> control);

// Performs the transfer on the calling thread. Returns 0 when the body was received or the
// transfer was paused, -1 on failure; the outcome reaches the owner through SetTransferResult.
int RunTransfer(DownloadTask& task, TransferControl& control);
