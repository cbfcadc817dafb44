#pragma once

#include "FileHandle.h"
#include "PartMap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Opens the item's temporary file for appending (creating it empty when gone), when tempPath
// names one of ours: a regular file of this user, of one name, not a link, whose name ends
// ".tmp"; its record keeps the folder the file is in. Otherwise (tempPath
// empty, another kind of file, or one that cannot be opened) creates a new uniquely named empty
// file "<random>.tmp" in folder (exclusively, mode 0644 less the umask) and stores its path in
// tempPath. The file is open write-only for appending; others may read it. The record
// (finalPath empty) is registered even when the open fails; the result is then NoFileHandle and
// tempPath is empty.
FileHandle OpenOutputFile(const std::string& folder, std::string& tempPath);

// Names the file of every record with the handle: the name made safe (SafeFileName) and fitted
// to the folder's longest name, so that setting it can never make the move fail. Returns the
// name set, or "" when the name is unusable and nothing changed; the caller can then fall back
// to another name. Records of failed opens (NoFileHandle) cannot be told apart and are never
// named; for NoFileHandle the result only tells which name would be set.
std::string SetOutputFileName(FileHandle handle, const std::string& name);

// Empties the file through its descriptor (never by its name) and drops its validator; returns
// the handle, which stays the record's. Gives NoFileHandle, touching nothing, for NoFileHandle or
// a handle no record holds; gives NoFileHandle, kept in the record and the file closed, when the
// file cannot be emptied.
FileHandle RecreateOutputFile(FileHandle handle);

// For a registered handle whose temporary name no longer leads to its file (the user deleted or
// replaced it): closes it and makes a new empty file under a new name in the same folder, which
// the record and tempPath then hold. Any other handle is returned as it is.
FileHandle RenewGoneOutputFile(FileHandle handle, std::string& tempPath);

// Deletes the temporary file an item names without holding it open (as after a restart), when it
// is one of ours in folder: a ".tmp" file that OpenOutputFile would reopen.
void DiscardStoredTemporaryFile(const std::string& folder, const std::string& tempPath);

// How a completion ended: error 0 and the name the file now has in its folder (and its whole
// path), or the errno that stopped it.
struct OutputCompletion {
    int error = 0;
    std::string name;
    std::string path;
};

// Moves the file to its final name (DefaultFileName when none was set), or to "name (1).ext",
// "name (2).ext", ... (up to MaxOutputNameTries names, each fitted to the folder's longest name)
// when that is taken; never replaces a file. The final name is in the temporary file's own
// folder, so the move never crosses file systems. On success the file is closed and its record
// removed. On failure nothing is lost: the temporary file stays whole, open and registered for a
// later try; a temporary name that no longer leads to the open file fails with ENOENT. A handle
// no record holds is neither closed nor touched (EBADF); for NoFileHandle one record of a failed
// open is dropped (EBADF).
OutputCompletion CompleteOutputFile(FileHandle handle);

// Closes and deletes the file of a registered handle and removes its record; an unknown handle
// is left alone. For NoFileHandle only one record of a failed open is dropped, no file touched.
void DiscardOutputFile(FileHandle handle);

// The bytes of the open file that a resume may append to: those written without a gap from its
// start when it was written in parts (see WrittenParts), else its size; 0 when there is no file
// or its size cannot be read.
std::int64_t OutputFileSize(FileHandle handle);

// The map of the parts written of a file written at its offsets, kept with the file (an extended
// attribute, like the validator) and dropped with the validator. Storing tells whether it was
// kept. Reading gives none when the file has no map, and an empty map of size 0 when it has one
// that cannot be read: its bytes are then not to be trusted.
bool StoreWrittenParts(FileHandle handle, const PartMap& parts);
std::optional<PartMap> WrittenParts(FileHandle handle);
// Makes a file written in parts an ordinary one that holds what its map has from the start, so
// that appending continues there; a file without a map is left alone. The map shrinks first,
// so that a crash at any moment leaves a map true to the file. 0 or the errno.
int KeepWrittenStart(FileHandle handle);

// The validator of the server's copy (an ETag or a Last-Modified date) that the file's bytes came
// from, kept with the file itself (an extended attribute) so that it lasts as long as the bytes;
// "" when none was kept or the file system keeps none. Storing "" removes it.
void StoreResumeValidator(FileHandle handle, const std::string& validator);
// Whether a validator can be kept and sent as it is: not empty, at most 1024 bytes and without
// control bytes, which could end the If-Range line it goes into. Any other is neither stored nor
// read back.
bool IsUsableValidator(std::string_view validator);
std::string ResumeValidator(FileHandle handle);

// The records of open temporary files are kept in one table for the whole process, shared by
// the user interface thread and the transfer thread; every operation above is safe from both.
