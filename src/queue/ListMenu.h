#pragma once

#include "DownloadItem.h"

#include <cstdint>
#include <string>
#include <vector>

class DownloadQueue;

// What the list's context menu and a double-click can do.
enum class ListAction { Open, ShowInFolder, CopyAddress, Start, Pause, Remove, Paste, AddUrl };

struct ListMenuEntry {
    ListAction action;
    const char* text;
    bool enabled;
};

// The context menu over a row: Open and Show in folder for one selected Done row, Copy address
// for any selection, Start, Pause and Remove when that command would change a selected row.
// Elsewhere: Paste when the offered text holds URLs (as a paste takes them), and Add URL.
std::vector<ListMenuEntry> ListMenuEntries(const DownloadQueue& queue,
                                           const std::vector<int>& selectedRows, bool overRow,
                                           const std::string& offeredText);

struct SpeedLimitChoice {
    std::int64_t bytesPerSecond; // 0: none
    std::string text;
    bool checked;
};

// The "Limit speed" entries: Unlimited and the usual rates, the one in force checked.
std::vector<SpeedLimitChoice> SpeedLimitChoices(std::int64_t current);

// A Done row opens its file; any other row starts.
ListAction DoubleClickAction(const DownloadItem& item);

// The selected rows' URLs without passwords, one per line.
std::string CopiedAddresses(const DownloadQueue& queue, const std::vector<int>& rows);
