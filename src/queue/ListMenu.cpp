#include "ListMenu.h"

#include "DownloadQueue.h"
#include "StatusText.h"
#include "UrlLines.h"
#include "UrlParts.h"

#include <algorithm>

namespace {

bool AnyRow(const DownloadQueue& queue, const std::vector<int>& rows, auto&& applies) {
    return std::any_of(rows.begin(), rows.end(), [&](int row) {
        return row >= 0 && row < queue.Count() && applies(row, queue.Item(row).state);
    });
}

} // namespace

std::vector<ListMenuEntry> ListMenuEntries(const DownloadQueue& queue,
                                           const std::vector<int>& selectedRows, bool overRow,
                                           const std::string& offeredText) {
    if (!overRow) {
        return {{ListAction::Paste, "Paste", !SchemeUrlText(offeredText).empty()},
                {ListAction::AddUrl, "Add URL...", true}};
    }
    const bool oneDone =
        selectedRows.size() == 1 && AnyRow(queue, selectedRows, [](int, DownloadState state) {
            return state == DownloadState::Done;
        });
    using enum DownloadState;
    return {
        {ListAction::Open, "Open", oneDone},
        {ListAction::ShowInFolder, "Show in folder", oneDone},
        {ListAction::CopyAddress, "Copy address",
         AnyRow(queue, selectedRows, [](int, DownloadState) { return true; })},
        {ListAction::Start, "Start",
         AnyRow(queue, selectedRows,
                [](int, DownloadState state) { return IsStartable(state); })},
        {ListAction::Pause, "Pause",
         AnyRow(queue, selectedRows,
                [](int, DownloadState state) { return state == Waiting || state == Progress; })},
        {ListAction::Remove, "Remove",
         AnyRow(queue, selectedRows,
                [&](int row, DownloadState) { return queue.IsRemovable(row); })},
    };
}

std::vector<SpeedLimitChoice> SpeedLimitChoices(std::int64_t current) {
    std::vector<SpeedLimitChoice> choices;
    for (const std::int64_t rate : {0, 256000, 1000000, 5000000, 10000000}) {
        choices.push_back({rate, rate == 0 ? "Unlimited" : SpeedLimitText(rate), rate == current});
    }
    return choices;
}

ListAction DoubleClickAction(const DownloadItem& item) {
    return item.state == DownloadState::Done ? ListAction::Open : ListAction::Start;
}

std::string CopiedAddresses(const DownloadQueue& queue, const std::vector<int>& rows) {
    std::string text;
    for (const int row : rows) {
        if (!text.empty()) {
            text += '\n';
        }
        text += WithoutPassword(queue.Item(row).url);
    }
    return text;
}
