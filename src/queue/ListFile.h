#pragma once

#include "DownloadItem.h"

#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

class QIODevice;

// What the list file holds for an item is what an ordinary exit at that moment would store: no
// transfer outlives the process, so a running item is stored as paused, and while the queue runs
// its scheduled items are stored as ready (the exit's Pause All).
enum class QueueRun { Idle, Running };

// The list file's bytes: a little-endian 32-bit record count, then per item a little-endian
// 32-bit length and the bytes of ToRecord(), with nothing in between or after. Written to the
// device in pieces.
void WriteList(QIODevice& device, const DownloadItems& items, QueueRun run = QueueRun::Idle);
QByteArray EncodeList(const DownloadItems& items, QueueRun run = QueueRun::Idle);

// Reads as many items as the bytes hold: a count of 0 or less, or a short header, gives none; a
// short length or record ends the list; a record is cut at its first zero byte; a malformed
// record still gives an item with the fields read before the fault. damaged, when given, tells
// whether anything was left out or unread.
DownloadItems DecodeList(const QByteArray& bytes, bool* damaged = nullptr);

// The per-user data folder + "/Dartflux/download.dat" (native separators), creating the
// "Dartflux" folder when needed; "" when there is no per-user data folder.
std::string DefaultListPath();

// The list file's path: setting 1, or DefaultListPath() when that is empty.
std::string ListFilePath();

// Loads the file named by setting 1. When the setting is empty and a list is at the default path
// (the settings were lost), that one is loaded and setting 1 set to it, so that the next save
// never replaces it with a smaller list. Nothing when there is no file or it is unreadable. A
// file that is unreadable or damaged is kept as "download.dat.damaged" (the newest only).
DownloadItems LoadListFile();

// Writes the list atomically (a temporary file renamed over the old one) to the path of
// setting 1, or, when that is empty, to DefaultListPath(). The path is stored in setting 1 once
// the file could be created; when it cannot be, nothing is written and the setting is left.
// The file is readable and writable by its owner only. Returns whether the file was written.
bool SaveListFile(const DownloadItems& items, QueueRun run = QueueRun::Idle);
