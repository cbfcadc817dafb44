#include "OutputFiles.h"

#include "FileNames.h"
#include "FileOperations.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// One open temporary file of a download.
struct OutputFileRecord {
    std::string folder;               // the target folder, as the caller gave it
    std::string finalPath;            // folder + one separator + name; empty until a name is set
    std::string tempPath;             // the temporary file inside folder
    FileHandle handle = NoFileHandle; // the key; NoFileHandle when the open failed
};

constexpr char ValidatorAttribute[] = "user.dartflux.validator";
constexpr char PartsAttribute[] = "user.dartflux.parts";
constexpr std::size_t MaxPartsSize = 16 * 1024;
constexpr std::size_t MaxValidatorSize = 1024;

// Whether a file is one this user's downloads may have made: a regular file (not a link, a
// device or a pipe) of one name, owned by the user. Another user of a shared folder could have
// put anything else under the name.
bool IsOwnTemporaryFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_uid == ::geteuid();
}

// A temporary file a list file names, for appending: only a file of ours whose name ends ".tmp";
// created empty when gone.
FileHandle ReopenTemporaryFile(const std::string& path) {
    if (!path.ends_with(".tmp")) {
        return NoFileHandle;
    }
    const int fd = OpenForAppending(path, O_CREAT | O_NOFOLLOW | O_NONBLOCK);
    struct stat status {};
    if (fd < 0) {
        return NoFileHandle;
    }
    if (::fstat(fd, &status) != 0 || !IsOwnTemporaryFile(status)) {
        ::close(fd);
        return NoFileHandle;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void CloseFile(FileHandle handle) {
    if (handle != NoFileHandle) {
        ::close(handle); // not retried on EINTR: on Linux the descriptor is gone either way
    }
}

// The name part of a final path (names are single components, so: after the last separator).
std::string NameOf(const std::string& finalPath) {
    const std::size_t at = finalPath.rfind(NativeSeparator());
    return at == std::string::npos ? finalPath : finalPath.substr(at + 1);
}

std::string FolderOf(const std::string& finalPath) {
    const std::size_t at = finalPath.rfind(NativeSeparator());
    return at == std::string::npos ? std::string() : finalPath.substr(0, at + 1);
}

// The process's table of open temporary files, shared by the user interface thread and the
// transfer thread. Every operation holds its lock from its first lookup to its last change, file
// calls included, so that a handle one operation closes cannot be reused by another one's open
// before its record is gone. Lookups take the first record whose handle is equal.
class Table {
public:
    // Never destroyed, so that a late transfer thread never meets a freed table.
    static Table& Instance() {
        static Table* const table = new Table;
        return *table;
    }

    // Runs use with the handle's record (nullptr when none) and the records, under the lock.
    template <typename Use> auto WithRecord(FileHandle handle, Use use) {
        std::lock_guard lock(mutex_);
        const auto found =
            std::find_if(records_.begin(), records_.end(),
                         [handle](const auto& record) { return record.handle == handle; });
        return use(found == records_.end() ? nullptr : &*found, records_);
    }

private:
    std::mutex mutex_;
    std::vector<OutputFileRecord> records_;
};

// Removes the first record with the handle, keeping the order of the others.
void RemoveRecord(std::vector<OutputFileRecord>& records, FileHandle handle) {
    const auto found = std::find_if(records.begin(), records.end(), [handle](const auto& record) {
        return record.handle == handle;
    });
    if (found != records.end()) {
        records.erase(found);
    }
}

} // namespace

using Records = std::vector<OutputFileRecord>;

FileHandle OpenOutputFile(const std::string& folder, std::string& tempPath) {
    return Table::Instance().WithRecord(NoFileHandle, [&](OutputFileRecord*, Records& records) {
        FileHandle handle = tempPath.empty() ? NoFileHandle : ReopenTemporaryFile(tempPath);
        if (handle != NoFileHandle) {
            // A download finishes in the folder it began in, whatever "Save to" says now.
            records.push_back(
                OutputFileRecord{FolderOf(tempPath), std::string(), tempPath, handle});
            return handle;
        }
        tempPath.clear(); // not a file to append to: start afresh
        handle = CreateUniqueTempFile(folder, tempPath);
        records.push_back(OutputFileRecord{folder, std::string(), tempPath, handle});
        return handle;
    });
}

std::string SetOutputFileName(FileHandle handle, const std::string& name) {
    const std::string safe = SafeFileName(name);
    if (safe.empty()) {
        return {};
    }
    return Table::Instance().WithRecord(handle, [&](OutputFileRecord* first, Records& records) {
        if (handle == NoFileHandle || first == nullptr) {
            return FitFileName(safe, FolderNameLimit("."));
        }
        const std::string fitted = FitFileName(safe, FolderNameLimit(first->folder));
        for (OutputFileRecord& record : records) {
            if (record.handle == handle) {
                record.finalPath = JoinOutputPath(record.folder, fitted);
            }
        }
        return fitted;
    });
}

FileHandle RecreateOutputFile(FileHandle handle) {
    return Table::Instance().WithRecord(handle, [&](OutputFileRecord* record, Records&) {
        if (record == nullptr || handle == NoFileHandle) {
            return NoFileHandle; // not ours: never close another owner's descriptor
        }
        // Through the descriptor, never by name: another user may have put a link there.
        ::fremovexattr(handle, ValidatorAttribute);
        ::fremovexattr(handle, PartsAttribute);
        if (::ftruncate(handle, 0) != 0) {
            CloseFile(handle);
            record->handle = NoFileHandle;
        }
        return record->handle;
    });
}

FileHandle RenewGoneOutputFile(FileHandle handle, std::string& tempPath) {
    return Table::Instance().WithRecord(handle, [&](OutputFileRecord* record, Records&) {
        if (record == nullptr || handle == NoFileHandle || IsFileAt(handle, record->tempPath)) {
            return handle;
        }
        CloseFile(handle);
        record->handle = CreateUniqueTempFile(FolderOf(record->tempPath), record->tempPath);
        tempPath = record->tempPath;
        return record->handle;
    });
}

void DiscardStoredTemporaryFile(const std::string& folder, const std::string& tempPath) {
    struct stat status {};
    if (tempPath.ends_with(".tmp") && FolderOf(tempPath) == JoinOutputPath(folder, "") &&
        ::lstat(tempPath.c_str(), &status) == 0 && IsOwnTemporaryFile(status)) {
        ::unlink(tempPath.c_str());
    }
}

OutputCompletion CompleteOutputFile(FileHandle handle) {
    OutputCompletion completion;
    Table::Instance().WithRecord(handle, [&](OutputFileRecord* record, Records& records) {
        if (record == nullptr || handle == NoFileHandle) {
            if (record != nullptr) {
                RemoveRecord(records, handle); // a failed open: no file of its own to move
            }
            completion.error = EBADF;
            return;
        }
        const std::string folder =
            record->finalPath.empty() ? record->folder : FolderOf(record->finalPath);
        const std::string name =
            record->finalPath.empty() ? std::string(DefaultFileName) : NameOf(record->finalPath);
        if (!IsFileAt(handle, record->tempPath)) {
            completion.error = ENOENT; // deleted or replaced: the name is not ours to move
            return;
        }
        // The file moves while still open, so that a failed move leaves it ready for another try.
        completion.error = MoveToFreeName(record->tempPath, folder, name, completion.name);
        if (completion.error == 0) {
            ::fremovexattr(handle, ValidatorAttribute); // ours, not the user's
            ::fremovexattr(handle, PartsAttribute);
            CloseFile(handle);
            RemoveRecord(records, handle);
            completion.path = JoinOutputPath(folder, completion.name);
        }
    });
    return completion;
}

void DiscardOutputFile(FileHandle handle) {
    Table::Instance().WithRecord(handle, [&](OutputFileRecord* record, Records& records) {
        if (record == nullptr) {
            return;
        }
        if (handle != NoFileHandle) {
            CloseFile(handle);
            if (!record->tempPath.empty()) {
                ::unlink(record->tempPath.c_str());
            }
        }
        RemoveRecord(records, handle);
    });
}

std::int64_t OutputFileSize(FileHandle handle) {
    if (const std::optional<PartMap> parts = WrittenParts(handle)) {
        return parts->WrittenFromStart();
    }
    struct stat status {};
    return handle != NoFileHandle && ::fstat(handle, &status) == 0 ? status.st_size : 0;
}

bool StoreWrittenParts(FileHandle handle, const PartMap& parts) {
    const std::string text = parts.ToText();
    return handle != NoFileHandle &&
           ::fsetxattr(handle, PartsAttribute, text.data(), text.size(), 0) == 0;
}

std::optional<PartMap> WrittenParts(FileHandle handle) {
    if (handle == NoFileHandle) {
        return std::nullopt;
    }
    std::string text(MaxPartsSize, '\0');
    const ssize_t size = ::fgetxattr(handle, PartsAttribute, text.data(), text.size());
    if (size < 0 && errno != ERANGE) {
        return std::nullopt; // no map, or no extended attributes at all
    }
    text.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
    return PartMap::FromText(text).value_or(PartMap());
}

int KeepWrittenStart(FileHandle handle) {
    const std::optional<PartMap> parts = WrittenParts(handle);
    if (!parts) {
        return 0;
    }
    PartMap start(parts->Total());
    start.Add(0, parts->WrittenFromStart());
    if (!StoreWrittenParts(handle, start) || ::ftruncate(handle, start.WrittenBytes()) != 0) {
        return errno;
    }
    ::fremovexattr(handle, PartsAttribute);
    return 0;
}

bool IsUsableValidator(std::string_view validator) {
    return !validator.empty() && validator.size() <= MaxValidatorSize &&
           std::none_of(validator.begin(), validator.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void StoreResumeValidator(FileHandle handle, const std::string& validator) {
    if (handle == NoFileHandle) {
        return;
    }
    if (!IsUsableValidator(validator)) {
        ::fremovexattr(handle, ValidatorAttribute);
    } else {
        ::fsetxattr(handle, ValidatorAttribute, validator.data(), validator.size(), 0);
    }
}

std::string ResumeValidator(FileHandle handle) {
    char value[MaxValidatorSize];
    const ssize_t size =
        handle == NoFileHandle ? -1 : ::fgetxattr(handle, ValidatorAttribute, value, sizeof value);
    const std::string_view validator(value, size > 0 ? static_cast<std::size_t>(size) : 0);
    return IsUsableValidator(validator) ? std::string(validator) : std::string();
}
