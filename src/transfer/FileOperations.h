#pragma once

#include "FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The file system calls under the output files: new files, whole writes, names and moves that
// never replace a file.

// The native path separator.
char NativeSeparator();

// folder + exactly one native separator + name, whatever folder ends with.
std::string JoinOutputPath(const std::string& folder, const std::string& name);

// The longest file name the folder takes, in bytes.
std::size_t FolderNameLimit(const std::string& folder);

// Opens for writing at the end, close-on-exec, mode 0644 less the umask when created; extraFlags
// adds O_CREAT, O_EXCL and the like. The descriptor, or -1 with errno set.
int OpenForAppending(const std::string& path, int extraFlags);

// A new, empty file with a unique random name "<8 hex>.tmp" in folder, created exclusively and
// left open for appending. Returns the handle and sets path, or NoFileHandle.
FileHandle CreateUniqueTempFile(const std::string& folder, std::string& path);

// Writes all of data, at offset when it is not negative (else at the file's position), retrying
// short writes; 0 or the errno (ENOSPC for a write of nothing).
int WriteAll(int fd, const char* data, std::size_t size, std::int64_t offset = -1);

// The move that never replaces. Best uses renameat2(RENAME_NOREPLACE) and falls back to
// link + unlink when the file system does not support it, then to reserving the name with an
// exclusive create and renaming onto that reservation when hard links are unsupported too; the
// other methods force one fallback (for tests). Returns 0, or the errno of the failure (EEXIST
// when the target name is taken, EXDEV across file systems).
enum class NoReplaceMove { Best, LinkUnlink, Reserve };
int MoveFileNoReplace(const std::string& from, const std::string& to,
                      NoReplaceMove method = NoReplaceMove::Best);

inline constexpr int MaxOutputNameTries = 10000;

// Moves from into folder under the first free one of name, "name (1).ext", "name (2).ext", ...
// (up to MaxOutputNameTries, each fitted to the folder's longest name). 0 and the name used, or
// the errno of the first failure that another name would not mend.
int MoveToFreeName(const std::string& from, const std::string& folder, const std::string& name,
                   std::string& used);

// Whether path (not followed when a link) names the open file handle, and no other.
bool IsFileAt(FileHandle handle, const std::string& path);
