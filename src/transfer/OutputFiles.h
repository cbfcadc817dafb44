#pragma once

#include "FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One open temporary file of a download.
struct OutputFileRecord {
    std::string folder;               // the target folder, as the caller gave it
    std::string finalPath;            // folder + one separator + name; empty until a name is set
    std::string tempPath;             // the temporary file inside folder
    FileHandle handle = NoFileHandle; // the key; NoFileHandle when the open failed
};

// The process-wide table of open temporary files, keyed by handle and shared by the user
// interface thread and the transfer thread under one lock. Lookups take the first record whose
// handle is equal. The operations below are the way to use it; every one of them holds the
// table's mutex from its first lookup to its last change, file calls included, so a handle
// closed by one operation cannot be reused by another one's open before its record is gone.
class OutputFileTable {
public:
    // The one instance (never destroyed, so a late transfer thread never meets a freed table).
    static OutputFileTable& Instance();

    OutputFileTable() = default;
    OutputFileTable(const OutputFileTable&) = delete;
    OutputFileTable& operator=(const OutputFileTable&) = delete;

    // A copy of every record, in table order, taken under the lock.
    std::vector<OutputFileRecord> Records() const;
    std::size_t Size() const;

    // For the operations: the caller holds Mutex() around every use of the *Locked members.
    std::mutex& Mutex() const { return mutex_; }
    OutputFileRecord* FindLocked(FileHandle handle);
    void AddLocked(OutputFileRecord record);
    // Removes the first record with the handle, keeping the order of the others.
    bool RemoveLocked(FileHandle handle);
    std::vector<OutputFileRecord>& RecordsLocked() { return records_; }

private:
    mutable std::mutex mutex_;
    std::vector<OutputFileRecord> records_;
};

// Opens the item's temporary file for appending (creating it empty when gone), when tempPath
// names one of ours: a regular file, not a link, whose name ends ".tmp". Otherwise (tempPath
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

// Empties the file by creating it anew at the same path and returns the new handle (often the
// same number), which replaces the old one in the record; finalPath and tempPath stay. Gives
// NoFileHandle, touching nothing, for NoFileHandle or a handle no record holds; gives
// NoFileHandle, kept in the record, when the new file cannot be created.
FileHandle RecreateOutputFile(FileHandle handle);

// How a completion ended: error 0 and the name the file now has in its folder, or the errno
// that stopped it.
struct OutputCompletion {
    int error = 0;
    std::string name;
};

// Moves the file to its final name (DefaultFileName when none was set), or to "name (1).ext",
// "name (2).ext", ... (up to MaxOutputNameTries names, each fitted to the folder's longest name)
// when that is taken; never replaces a file. A folder on another file system gets a flushed copy
// under a new temporary name first, which then takes the final name; the old temporary file goes
// only after that. On success the file is closed and its record removed. On failure nothing is
// lost: the temporary file stays whole, open and registered for a later try. A handle no record
// holds is neither closed nor touched (EBADF); for NoFileHandle one record of a failed open is
// dropped (EBADF).
OutputCompletion CompleteOutputFile(FileHandle handle);

inline constexpr int MaxOutputNameTries = 10000;

// Closes and deletes the file of a registered handle and removes its record; an unknown handle
// is left alone. For NoFileHandle only one record of a failed open is dropped, no file touched.
void DiscardOutputFile(FileHandle handle);

// The bytes in the open file; 0 when there is no file or its size cannot be read.
std::int64_t OutputFileSize(FileHandle handle);

// The validator of the server's copy (an ETag or a Last-Modified date) that the file's bytes came
// from, kept with the file itself (an extended attribute) so that it lasts as long as the bytes;
// "" when none was kept or the file system keeps none. Storing "" removes it.
void StoreResumeValidator(FileHandle handle, const std::string& validator);
std::string ResumeValidator(FileHandle handle);

std::optional<OutputFileRecord> FindOutputFile(FileHandle handle);
void RegisterOutputFile(FileHandle handle, const std::string& folder, const std::string& tempPath);
void UnregisterOutputFile(FileHandle handle);

// folder + exactly one native separator + name, whatever folder ends with.
std::string JoinOutputPath(const std::string& folder, const std::string& name);

// The longest file name the folder takes, in bytes.
std::size_t FolderNameLimit(const std::string& folder);

// The move that never replaces. Best uses renameat2(RENAME_NOREPLACE) and falls back to
// link + unlink when the file system does not support it, then to reserving the name with an
// exclusive create and renaming onto that reservation when hard links are unsupported too; the
// other methods force one fallback (for tests). Returns 0, or the errno of the failure (EEXIST
// when the target name is taken).
enum class NoReplaceMove { Best, LinkUnlink, Reserve };
int MoveFileNoReplace(const std::string& from, const std::string& to,
                      NoReplaceMove method = NoReplaceMove::Best);
