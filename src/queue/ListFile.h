#pragma once

#include "DownloadItem.h"

#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

using DownloadItems = std::vector<std::unique_ptr<DownloadItem>>;

// The list file's bytes: a little-endian 32-bit record count, then per item a little-endian
// 32-bit length and the bytes of ToRecord(), with nothing in between or after.
QByteArray EncodeList(const DownloadItems& items);

// Reads as many items as the bytes hold: a count of 0 or less, or a short header, gives none; a
// short length or record ends the list; a record is cut at its first zero byte; a malformed
// record still gives an item with the fields read before the fault.
DownloadItems DecodeList(const QByteArray& bytes);

// The per-user data folder + "/Dartflux/download.dat" (native separators), creating the
// "Dartflux" folder when needed; "" when there is no per-user data folder.
std::string DefaultListPath();

// Loads the file named by setting 1; nothing when the setting is empty or the file unreadable.
DownloadItems LoadListFile();

// Writes the list atomically (a temporary file renamed over the old one) to the path of
// setting 1, or, when that is empty, to DefaultListPath(). The path is stored in setting 1 once
// the file could be created; when it cannot be, nothing is written and the setting is left.
// Returns whether the file was written.
bool SaveListFile(const DownloadItems& items);
