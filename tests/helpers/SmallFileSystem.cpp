#include "SmallFileSystem.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>

SmallFileSystem::SmallFileSystem(const char* size) {
    const QByteArray path = folder_.path().toLocal8Bit();
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", path.constData(), "tmpfs", 0, options.c_str()) == 0;
    error_ = mounted_ ? 0 : errno;
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) {
        ::umount2(folder_.path().toLocal8Bit().constData(), MNT_DETACH);
    }
}

const char* SmallFileSystem::Error() const {
    return std::strerror(error_);
}
