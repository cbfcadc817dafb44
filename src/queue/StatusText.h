#pragma once

#include "DownloadItem.h"
#include "ItemRun.h"
#include "TransferActivity.h"

#include <cstdint>
#include <string>

// What the status panel and a row's tooltip say about a download, in plain words. None of these
// texts is stored: after a restart an Error row only says that it failed.

// 1000-based units, one decimal above bytes: "532 B", "1.5 kB", "412.3 MB", "1.2 GB".
std::string ByteText(std::int64_t bytes);

// "2.4 MB/s".
std::string SpeedText(std::int64_t bytesPerSecond);

// A limit as its menu entry names it: "256 kB/s", "1 MB/s", "1.5 MB/s".
std::string SpeedLimitText(std::int64_t bytesPerSecond);

// "45 s left", "3 min 20 s left", "2 h 5 min left".
std::string TimeLeftText(std::int64_t seconds);

// Why a download failed: "The server answered 404 Not Found", "The disk is full", ... url is
// the download's, for the texts that name its host or the address itself.
std::string FailureText(const TransferFailure& failure, const std::string& url);

// The item's name, then a line by its state: bytes, speed and time left or the retry waited for
// while it runs, the reason of an Error, the file of a Done, the bytes kept of a Pause, as this
// run learned them (run: null when it learned nothing); the URL of the others.
std::string StatusText(const DownloadItem& item, const ItemRun* run);

// What the panel says when the desktop could not open path; openerMissing when the desktop's
// opener (xdg-open) is not installed.
std::string OpenFailureText(const std::string& path, bool openerMissing);
