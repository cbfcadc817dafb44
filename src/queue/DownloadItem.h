#pragma once

#include "FileHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The state of a download. Values outside 0..6 can come from a list file; they are kept as they
// are, shown with an empty text and never started.
enum class DownloadState : std::int32_t {
    Waiting = 0,
    Ready = 1,
    Queue = 2, // only ever read from a list file
    Progress = 3,
    Done = 4,
    Error = 5,
    Pause = 6,
};

// "Waiting", "Ready", ... for the seven states; "" for any other value.
const char* StateText(DownloadState state);

// Whether Start turns an item in this state into Waiting: Ready, Error and Pause.
bool IsStartable(DownloadState state);

// One download: one row of the list. Text fields hold the program's 8-bit text (UTF-8 here);
// every length counts bytes.
struct DownloadItem {
    std::string url;      // as entered; never changes after creation
    std::string fileName; // the shown name: the URL at first, then the name the transfer learns
    std::string tempPath; // the temporary file; empty until the first start
    std::int32_t percent = 0;
    std::int32_t reserved = 0;  // no meaning; kept through the list file unchanged
    std::int64_t totalSize = 0; // bytes; 0 while unknown
    DownloadState state = DownloadState::Ready;
    FileHandle fileHandle = NoFileHandle; // the open temporary file; never stored in the list

    // The list file record: "%d:%s;%d:%s;%d:%s;%d;%d;%I64d;%d;" over fileName, tempPath, url,
    // percent, reserved, totalSize and state, the strings prefixed with their byte length.
    std::string ToRecord() const;

    // Reads a record leniently: fields are set in order until the first fault and keep their
    // values; the rest stay as they are. True when all seven fields were read.
    bool FromRecord(const std::string& record);
};

// Where a Done item's file is: its temporary file's folder and its name.
std::string SavedFilePath(const DownloadItem& item);

// The items of the list, in row order; each keeps its address while others come and go.
using DownloadItems = std::vector<std::unique_ptr<DownloadItem>>;
