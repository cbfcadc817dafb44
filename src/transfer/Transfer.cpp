#include "Transfer.h"

#include "TransferRun.h"

#include <system_error>
#include <thread>

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
    const TransferOutcome outcome = RunTransfer(task, *control);
    control->ReportToOwner([outcome](TransferOwner& owner) { owner.OnTransferFinished(outcome); });
    control->MarkFinished();
}

TransferOutcome RunTransfer(DownloadTask& task, TransferControl& control) {
    return TransferRun(task, control).Run();
}
