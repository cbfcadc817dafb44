// The hand-over socket's folder is the user's alone, and a peer of another user is told apart.
#include "SingleInstance.h"
#include "QStringPrinter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(SingleInstanceTest, TheRuntimeFolderIsTheUsersAlone) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QTemporaryDir temporary; // mode 0700
    const QByteArray path = temporary.path().toLocal8Bit();
    qputenv("XDG_RUNTIME_DIR", path);
    EXPECT_EQ(PrivateRuntimeFolder(), temporary.path());
    ::chmod(path.constData(), 0755);
    EXPECT_EQ(PrivateRuntimeFolder(), "");
    ::chmod(path.constData(), 0700);

    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", path);
    const QByteArray own = path + "/dartflux-" + QByteArray::number(::getuid());
    EXPECT_EQ(PrivateRuntimeFolder(), own);
    struct stat status {};
    EXPECT_EQ(::lstat(own.constData(), &status) == 0 ? status.st_mode : 0, S_IFDIR | 0700);
    ::rmdir(own.constData());
    ::symlink(path.constData(), own.constData()); // a link, even to a private folder
    EXPECT_EQ(PrivateRuntimeFolder(), "");
    qunsetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", runtime);
}

// A child that became nobody connects: only root can change its user.
TEST(SingleInstanceTest, APeerOfAnotherUserIsToldApart) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "only root can connect as another user";
    }
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    const std::string name = "dartflux-peer-test-" + std::to_string(::getpid());
    name.copy(address.sun_path + 1, name.size()); // abstract: no folder's permissions apply
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Had it stayed root, it would be taken for this user and the test would fail.
        const bool becameNobody = ::setuid(65534) == 0;
        ::connect(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address), size);
        ::_exit(becameNobody ? 0 : 1);
    }
    const int accepted = ::accept(listening, nullptr, nullptr);
    EXPECT_FALSE(PeerIsThisUser(accepted));
    ::close(accepted);
    ::close(listening);
    ::waitpid(child, nullptr, 0);
}

} // namespace
