#include "FileOperations.h"

#include "FileNames.h"

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
    const int fd = OpenForAppending(to, O_CREAT | O_EXCL);
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

} // namespace

char NativeSeparator() {
    return QDir::separator().toLatin1();
}

int OpenForAppending(const std::string& path, int extraFlags) {
    int fd;
    do {
        fd = ::open(path.c_str(), NewFileFlags | extraFlags, NewFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// GetTempFileName's part: the name is the platform's choice there, a random one here.
FileHandle CreateUniqueTempFile(const std::string& folder, std::string& path) {
    for (int attempt = 0; attempt < MaxTempNameTries; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "%08x.tmp",
                      static_cast<unsigned>(QRandomGenerator::global()->generate()));
        const std::string candidate = JoinOutputPath(folder, name);
        const int fd = OpenForAppending(candidate, O_CREAT | O_EXCL);
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

int WriteAll(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t written =
            offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset = offset < 0 ? offset : offset + written;
    }
    return 0;
}

bool IsFileAt(FileHandle handle, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return handle != NoFileHandle && ::fstat(handle, &open) == 0 &&
           ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

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
