#include "OutputFiles.h"

#include <QDir>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t NewFileMode = 0644; // less the umask
constexpr int NewFileFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
constexpr int MaxTempNameTries = 100;

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

bool IsSafeOutputFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

std::string NumberedOutputFileName(const std::string& name, int attempt) {
    if (attempt <= 0) {
        return name;
    }
    // The extension starts at the last dot, unless that dot opens the name (".bashrc") or ends
    // it ("name."): then there is none and the number goes at the end.
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        dot = name.size();
    }
    return name.substr(0, dot) + " (" + std::to_string(attempt) + ")" + name.substr(dot);
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

    FileHandle handle = NoFileHandle;
    if (!tempPath.empty()) {
        // Reopen for appending; a file that is gone is created again, empty.
        const int fd = OpenFile(tempPath, O_CREAT);
        handle = fd >= 0 ? fd : NoFileHandle;
    } else {
        handle = CreateUniqueTempFile(folder, tempPath);
    }

    table.AddLocked(OutputFileRecord{folder, std::string(), tempPath, handle});
    return handle;
}

bool SetOutputFileName(FileHandle handle, const std::string& name) {
    if (!IsSafeOutputFileName(name)) {
        return false;
    }
    if (handle == NoFileHandle) {
        return true; // records of failed opens cannot be told apart: none is named
    }
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    for (OutputFileRecord& record : table.RecordsLocked()) {
        if (record.handle == handle) {
            record.finalPath = JoinOutputPath(record.folder, name);
        }
    }
    return true;
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

std::string CompleteOutputFile(FileHandle handle) {
    OutputFileTable& table = OutputFileTable::Instance();
    std::lock_guard lock(table.Mutex());
    OutputFileRecord* record = table.FindLocked(handle);
    if (record == nullptr) {
        return std::string(); // unknown handle: neither closed nor moved
    }
    if (handle == NoFileHandle) {
        table.RemoveLocked(handle); // a failed open: no file of its own to close or move
        return std::string();
    }

    CloseFile(handle);

    std::string used;
    if (!record->finalPath.empty() && !record->tempPath.empty()) {
        const std::string folder = FolderOf(record->finalPath);
        const std::string name = NameOf(record->finalPath);
        for (int attempt = 0; attempt < MaxOutputNameTries; ++attempt) {
            const std::string candidate = NumberedOutputFileName(name, attempt);
            const int error = MoveFileNoReplace(record->tempPath, folder + candidate);
            if (error == 0) {
                used = candidate;
                break;
            }
            if (error != EEXIST) {
                break; // not a taken name: another name would not help
            }
        }
    }

    table.RemoveLocked(handle);
    return used;
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
