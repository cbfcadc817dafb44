// Downloads one 64 MiB file from nginx that sends at most 4 MB/s per connection, with the real
// download queue and transfer worker, with curl, with wget and with aria2c over eight
// connections, one after the other, and prints the time of each, the TCP connections nginx saw
// and the body bytes it sent, with ratios against curl and aria2c. aria2c is installed with
// apt-get when missing (as root or through sudo).
//
//   build/bench/SplitBench [MiB, default 64]

#include "DownloadQueue.h"
#include "NginxServer.h"
#include "TemporaryHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char LogFormat[] = "log_format parts '$connection $status $body_bytes_sent';";
// nginx logs a request when it ends, which for a connection the client closed can be later.
constexpr auto LogQuiet = std::chrono::seconds(1);

bool RunProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    return posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0 &&
           waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool EnsureAria2() {
    if (RunProgram({"sh", "-c", "command -v aria2c >/dev/null"})) {
        return true;
    }
    const std::string sudo = geteuid() == 0 ? "" : "sudo ";
    return RunProgram({"sh", "-c",
                       sudo + "apt-get update -qq && " + sudo +
                           "env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq aria2"});
}

// The real queue and worker, from Start All until the row is no longer running.
bool RunQueue(const std::string& url, const QString& folder) {
    DownloadQueue queue;
    queue.SetAutoSave(false);
    queue.Folder() = DownloadFolder(folder.toStdString());
    queue.AddUrls(url + "\n");
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!queue.Running()) {
            loop.quit();
        }
    });
    poll.start(5);
    queue.OnStartAll();
    loop.exec();
    return queue.Item(0).state == DownloadState::Done;
}

struct Served {
    int connections = 0;
    long long bytes = 0;
};

// The requests nginx logged since the last call, once no new line came for LogQuiet.
Served TakeLog(const std::string& path, std::size_t& offset) {
    Served served;
    std::set<std::string> connections;
    for (auto quietSince = Clock::now(); Clock::now() - quietSince < LogQuiet;) {
        std::ifstream log(path);
        log.seekg(static_cast<std::streamoff>(offset));
        for (std::string line; std::getline(log, line) && !log.eof();) {
            offset += line.size() + 1;
            quietSince = Clock::now();
            std::istringstream fields(line);
            std::string connection;
            std::string status;
            long long bytes = 0;
            fields >> connection >> status >> bytes;
            connections.insert(connection);
            served.bytes += bytes;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    served.connections = static_cast<int>(connections.size());
    return served;
}

} // namespace

int main(int argc, char* argv[]) {
    const long mebibytes = argc > 1 ? std::atol(argv[1]) : 64;
    const TemporaryHome home;
    QCoreApplication app(argc, argv);
    if (!EnsureAria2()) {
        std::fprintf(stderr, "aria2c is missing and could not be installed\n");
        return 2;
    }
    QTemporaryDir root;
    QTemporaryDir work;
    const std::string logPath = work.filePath("access.log").toStdString();
    {
        std::ofstream file(root.filePath("big.bin").toStdString(), std::ios::binary);
        std::string block(1 << 20, '\0');
        for (long i = 0; i < mebibytes; ++i) {
            for (std::size_t at = 0; at < block.size(); ++at) {
                block[at] = static_cast<char>(((at + 1) * (i + 7) * 2654435761u) >> 13);
            }
            file.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    NginxServer nginx(root.path().toStdString(), "limit_rate 4m;",
                      "access_log " + logPath + " parts;", LogFormat);
    const std::string url = nginx.Url("/big.bin");
    std::size_t logOffset = 0;
    RunProgram({"curl", "-s", "-o", "/dev/null", url}); // nginx and the page cache warmed
    TakeLog(logPath, logOffset);

    const QString folder = work.filePath("out");
    const QString out = QDir(folder).filePath("big.bin");
    const struct {
        const char* name;
        std::vector<std::string> command; // empty: the queue
    } clients[] = {
        {"dartflux", {}},
        {"curl", {"curl", "-s", "-o", out.toStdString(), url}},
        {"wget", {"wget", "-q", "-O", out.toStdString(), url}},
        {"aria2c",
         {"aria2c", "-q", "-x8", "-s8", "-k1M", "--file-allocation=none", "--allow-overwrite=true",
          "-d", folder.toStdString(), "-o", "big.bin", url}},
    };
    double seconds[std::size(clients)] = {};
    Served served[std::size(clients)];
    bool failed[std::size(clients)] = {};
    for (std::size_t i = 0; i < std::size(clients); ++i) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        const auto start = Clock::now();
        const bool ok =
            clients[i].command.empty() ? RunQueue(url, folder) : RunProgram(clients[i].command);
        seconds[i] = std::chrono::duration<double>(Clock::now() - start).count();
        failed[i] = !ok || QFile(out).size() != mebibytes * 1048576;
        served[i] = TakeLog(logPath, logOffset);
    }
    std::printf("%ld MiB from nginx on 127.0.0.1, limit_rate 4m per connection\n\n", mebibytes);
    std::printf("%-9s %9s %12s %14s %9s %10s\n", "client", "seconds", "connections", "bytes sent",
                "vs curl", "vs aria2c");
    for (std::size_t i = 0; i < std::size(clients); ++i) {
        std::printf("%-9s %9.2f %12d %14lld %9.2f %10.2f%s\n", clients[i].name, seconds[i],
                    served[i].connections, served[i].bytes, seconds[i] / seconds[1],
                    seconds[i] / seconds[3], failed[i] ? "  FAILED" : "");
    }
    std::printf("\ntarget: dartflux at most aria2c's time (ratio at most 1.00): %s\n",
                seconds[0] <= seconds[3] ? "met" : "MISSED");
    return 0;
}
