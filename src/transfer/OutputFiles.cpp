#include "OutputFiles.h"

#include "FileNames.h"

#include <QDir>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr mode_t NewFileMode = 0644; // less the umask
constexpr int NewFileFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
constexpr int MaxTempNameTries = 100;
constexpr char ValidatorAttribute[] = "user.dartflux.validator";
constexpr std::size_t MaxValidatorSize = 1024;
constexpr std::size_t CopySize = 64 * 1024;

char NativeSeparator() {
    return QDir::separator().toLatin1();
}

int OpenFile(const std::string& path, int extraFlags) {
    int fd;
    do {
        fd = ::open(path.c_str(), NewFileFlags | extraFlags, NewFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// GetTempFileName's part: a new, empty file with a unique random name ending ".tmp" in folder,
// created exclusively and left open. Returns the handle and sets path, or NoFileHandle.
FileHandle CreateUniqueTempFile(const std::string& folder, std::string& path) {
    for (int attempt = 0; attempt < MaxTempNameTries; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "%08x.tmp",
                      static_cast<unsigned>(QRandomGenerator::global()->generate()));
        const std::string candidate = JoinOutputPath(folder, name);
        const int fd = OpenFile(candidate, O_CREAT | O_EXCL);
        if (fd >= 0) {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            break; // no folder, no permission, ...: another name would not help
        }
    }
    return NoFileHandle;
}

// A temporary file a list file names, for appending: only a file of ours, that is a regular
// file (not a link, a device or a pipe) of one name ending ".tmp"; created empty when gone.
FileHandle ReopenTemporaryFile(const std::string& path) {
    if (!path.ends_with(".tmp")) {
        return NoFileHandle;
    }
    const int fd = OpenFile(path, O_CREAT | O_NOFOLLOW | O_NONBLOCK);
    struct stat status {};
    if (fd < 0) {
        return NoFileHandle;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
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

bool RenameUnsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

bool LinkUnsupported(int error) {
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

int MoveByRename(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    return errno;
}

int MoveByLink(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str()); // if this fails the data is under both names; the final one counts
    return 0;
}

int MoveByReservation(const std::string& from, const std::string& to) {
    // The exclusive create claims the name; the rename then replaces only our own empty file.
    const int fd = OpenFile(to, O_CREAT | O_EXCL);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
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

// Writes all of data, retrying short writes; 0 or the errno.
int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Copies the file at from into a new temporary file of folder, flushed to the disk; 0 and the
// copy's path, or the errno (and no copy left behind).
int CopyIntoFolder(const std::string& from, const std::string& folder, std::string& copyPath) {
    const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return errno;
    }
    const FileHandle copy = CreateUniqueTempFile(folder, copyPath);
    int error = copy == NoFileHandle ? errno : 0;
    std::vector<char> buffer(CopySize);
    while (error == 0) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        error = WriteAll(copy, buffer.data(), static_cast<std::size_t>(got));
    }
    if (error == 0 && ::fsync(copy) != 0) {
        error = errno;
    }
    ::close(source);
    if (copy != NoFileHandle) {
        ::close(copy);
        if (error != 0) {
            ::unlink(copyPath.c_str());
        }
    }
    return error;
}

// Moves from into folder under the first free numbered form of name; 0 and the name used, or
// the errno of the first failure that another name would not mend.
int MoveToFreeName(const std::string& from, const std::string& folder, const std::string& name,
                   std::string& used) {
    const std::size_t limit = FolderNameLimit(folder);
    int error = EEXIST;
    for (int attempt = 0; attempt < MaxOutputNameTries && error == EEXIST; ++attempt) {
        const std::string candidate = NumberedFileName(name, attempt, limit);
        error = MoveFileNoReplace(from, JoinOutputPath(folder, candidate));
        if (error == 0) {
            used = candidate;
        }
    }
    return error;
}

} // namespace

// ----- the table -------------------------------------------------------------------------------

OutputFileTable& OutputFileTable::Instance() {
    static OutputFileTable* const table = new OutputFileTable;
    return *table;
}

std::vector<OutputFileRecord> OutputFileTable::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::size_t OutputFileTable::Size() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

OutputFileRecord* OutputFileTable::FindLocked(FileHandle handle) {
    for (OutputFileRecord& record : records_) {
        if (record.handle == handle) {
            return &record;
        }
    }
    return nullptr;
}

void OutputFileTable::AddLocked(OutputFileRecord record) {
    records_.push_back(std::move(record));
}

bool OutputFileTable::RemoveLocked(FileHandle handle) {
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (it->handle == handle) {
            records_.erase(it);
            return true;
        }
    }
    return false;
}

// ----- helpers ---------------------------------------------------------------------------------

std::string JoinOutputPath(const std::string& folder, const std::string& name) {
    const char separator = NativeSeparator();
    std::size_t end = folder.size();
    while (end > 0 && folder[end - 1] == separator) {
        --end;
    }
    std::string path = folder.substr(0, end);
    path += separator;
    path += name;
    return path;
}

std::size_t FolderNameLimit(const std::string& folder) {
    constexpr std::size_t CommonLimit = 255;
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : CommonLimit;
}

int MoveFileNoReplace(const std::string& from, const std::string& to, NoReplaceMove method) {
    switch (method) {
    case NoReplaceMove::LinkUnlink:
        return MoveByLink(from, to);
    case NoReplaceMove::Reserve:
        return MoveByReservation(from, to);
    case NoReplaceMove::Best:
        break;
    }
    int error = MoveByRename(from, to);
    if (!RenameUnsupported(error)) {
        return error;
    }
    error = MoveByLink(from, to);
    if (!LinkUnsupported(error)) {
        return error;
    }
    return MoveByReservation(from, to);
}

// ----- the operations --------------------------------------------------------------------------

FileHandle OpenOutputFile(const std::string& folder, std::string& tempPath) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());

    FileHandle handle = tempPath.empty() ? NoFileHandle : ReopenTemporaryFile(tempPath);
    if (handle == NoFileHandle) {
        tempPath.clear(); // not a file to append to: start afresh
        handle = CreateUniqueTempFile(folder, tempPath);
    }

    table.AddLocked(OutputFileRecord{folder, std::string(), tempPath, handle});
    return handle;
}

std::string SetOutputFileName(FileHandle handle, const std::string& name) {
    const std::string safe = SafeFileName(name);
    if (safe.empty()) {
        return {};
    }
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    const OutputFileRecord* first = handle == NoFileHandle ? nullptr : table.FindLocked(handle);
    const std::string fitted =
        FitFileName(safe, FolderNameLimit(first != nullptr ? first->folder : std::string(".")));
    for (OutputFileRecord& record : table.RecordsLocked()) {
        if (handle != NoFileHandle && record.handle == handle) {
            record.finalPath = JoinOutputPath(record.folder, fitted);
        }
    }
    return fitted;
}

FileHandle RecreateOutputFile(FileHandle handle) {
    if (handle == NoFileHandle) {
        return NoFileHandle;
    }
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    OutputFileRecord* record = table.FindLocked(handle);
    if (record == nullptr) {
        return NoFileHandle; // not ours: never close another owner's descriptor
    }

    CloseFile(handle);
    FileHandle newHandle = NoFileHandle;
    if (!record->tempPath.empty()) {
        ::unlink(record->tempPath.c_str());
        const int fd = OpenFile(record->tempPath, O_CREAT | O_TRUNC);
        newHandle = fd >= 0 ? fd : NoFileHandle;
    }
    record->handle = newHandle;
    return newHandle;
}

OutputCompletion CompleteOutputFile(FileHandle handle) {
    OutputFileTable& table = OutputFileTable::Instance();
    const auto closeCompleted = [&table, handle] {
        ::fremovexattr(handle, ValidatorAttribute); // ours, not the user's
        CloseFile(handle);
        table.RemoveLocked(handle);
    };
    OutputCompletion completion;
    std::string tempPath;
    std::string folder;
    std::string name;
    {
        std::lock_guard lock(table.Mutex());
        const OutputFileRecord* record = table.FindLocked(handle);
        if (record == nullptr || handle == NoFileHandle) {
            if (record != nullptr) {
                table.RemoveLocked(handle); // a failed open: no file of its own to move
            }
            return {EBADF, {}};
        }
        tempPath = record->tempPath;
        folder = record->finalPath.empty() ? record->folder : FolderOf(record->finalPath);
        name = record->finalPath.empty() ? std::string(DefaultFileName) : NameOf(record->finalPath);
        // The file moves while still open, so that a failed move leaves it ready for another try.
        completion.error = MoveToFreeName(tempPath, folder, name, completion.name);
        if (completion.error == 0) {
            closeCompleted();
        }
        if (completion.error != EXDEV) {
            return completion;
        }
    }

    // Another file system: copy without holding the table, which the user interface needs.
    std::string copyPath;
    completion.error = CopyIntoFolder(tempPath, folder, copyPath);
    if (completion.error != 0) {
        return completion;
    }
    std::lock_guard lock(table.Mutex());
    completion.error = table.FindLocked(handle) == nullptr
                           ? EBADF
                           : MoveToFreeName(copyPath, folder, name, completion.name);
    if (completion.error != 0) {
        ::unlink(copyPath.c_str());
        completion.name.clear();
        return completion;
    }
    ::unlink(tempPath.c_str());
    closeCompleted();
    return completion;
}

void DiscardOutputFile(FileHandle handle) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    OutputFileRecord* record = table.FindLocked(handle);
    if (record == nullptr) {
        return;
    }
    if (handle != NoFileHandle) {
        CloseFile(handle);
        if (!record->tempPath.empty()) {
            ::unlink(record->tempPath.c_str());
        }
    }
    table.RemoveLocked(handle);
}

std::int64_t OutputFileSize(FileHandle handle) {
    struct stat status {};
    return handle != NoFileHandle && ::fstat(handle, &status) == 0 ? status.st_size : 0;
}

void StoreResumeValidator(FileHandle handle, const std::string& validator) {
    if (handle == NoFileHandle) {
        return;
    }
    if (validator.empty() || validator.size() > MaxValidatorSize) {
        ::fremovexattr(handle, ValidatorAttribute);
    } else {
        ::fsetxattr(handle, ValidatorAttribute, validator.data(), validator.size(), 0);
    }
}

std::string ResumeValidator(FileHandle handle) {
    char value[MaxValidatorSize];
    const ssize_t size =
        handle == NoFileHandle ? -1 : ::fgetxattr(handle, ValidatorAttribute, value, sizeof value);
    return size > 0 ? std::string(value, static_cast<std::size_t>(size)) : std::string();
}

std::optional<OutputFileRecord> FindOutputFile(FileHandle handle) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    if (const OutputFileRecord* record = table.FindLocked(handle)) {
        return *record;
    }
    return std::nullopt;
}

void RegisterOutputFile(FileHandle handle, const std::string& folder, const std::string& tempPath) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    table.AddLocked(OutputFileRecord{folder, std::string(), tempPath, handle});
}

void UnregisterOutputFile(FileHandle handle) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    table.RemoveLocked(handle);
}
