// Downloads one large file from nginx on loopback with the transfer worker, with curl and with
// wget, one after the other in the same run, and prints throughput, CPU time and peak memory.
//
//   build/bench/TransferBench [size in MiB, default 1024]

#include "NginxServer.h"
#include "OutputFiles.h"
#include "Transfer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
    bool ok = false;
};

double Seconds(const timeval& time) {
    return time.tv_sec + time.tv_usec / 1e6;
}

class WaitingOwner : public TransferOwner {
public:
    void SetTransferResult(int code, std::uint32_t) override { lastCode_ = code; }
    void SetFileName(const std::string&) override {}
    void SetProgress(int) override {}
    void SetTotalSize(std::int64_t) override {}
    void SetFileHandle(FileHandle, FileHandle) override {}
    bool IsPauseRequested() override { return false; }
    void OnTransferFinished() override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }
    int Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
        return lastCode_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    int lastCode_ = -1;
};

Figures RunWorker(const std::string& url, const QString& folder) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    WaitingOwner owner;
    DownloadTask task;
    task.owner = &owner;
    SetTaskAddress(task, url);
    std::string tempPath;
    task.fileHandle = OpenOutputFile(folder.toStdString(), tempPath);
    const auto control = StartTransfer(task);
    const int code = control ? owner.Wait() : -1;
    control->WaitUntilFinished(std::chrono::seconds(5));
    Figures figures;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    figures.cpuSeconds = Seconds(after.ru_utime) - Seconds(before.ru_utime) +
                         Seconds(after.ru_stime) - Seconds(before.ru_stime);
    figures.peakKilobytes = after.ru_maxrss;
    figures.ok = code == 0;
    return figures;
}

Figures RunCommand(const std::vector<std::string>& arguments) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Figures figures;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    figures.peakKilobytes = usage.ru_maxrss;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

void Print(const char* name, const Figures& figures, double megabytes, const Figures& curl) {
    std::printf("%-8s %8.1f MB/s %8.2f s wall %8.2f s CPU %8.1f MB peak   %5.2fx curl throughput, "
                "%5.2fx curl CPU%s\n",
                name, megabytes / figures.seconds, figures.seconds, figures.cpuSeconds,
                figures.peakKilobytes / 1024.0, curl.seconds / figures.seconds,
                figures.cpuSeconds / curl.cpuSeconds, figures.ok ? "" : "   FAILED");
}

} // namespace

int main(int argc, char* argv[]) {
    const long mebibytes = argc > 1 ? std::stol(argv[1]) : 1024;
    QTemporaryDir root;
    QTemporaryDir downloads;
    {
        QFile source(root.filePath("big.bin"));
        source.open(QIODevice::WriteOnly);
        std::string block(1 << 20, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>((i * 2654435761u) >> 13);
        }
        for (long i = 0; i < mebibytes; ++i) {
            block[0] = static_cast<char>(i);
            source.write(block.data(), static_cast<qint64>(block.size()));
        }
    }
    const double megabytes = mebibytes * 1048576.0 / 1e6;
    NginxServer nginx(root.path().toStdString());
    const std::string url = nginx.Url("/big.bin");
    const QString out = downloads.filePath("out.bin");

    // Warm the page cache so that every client reads the same way.
    RunCommand({"curl", "-s", "-o", "/dev/null", url});

    const Figures curl = RunCommand({"curl", "-s", "-o", out.toStdString(), url});
    QFile::remove(out);
    const Figures wget = RunCommand({"wget", "-q", "-O", out.toStdString(), url});
    QFile::remove(out);
    const Figures worker = RunWorker(url, downloads.path());

    std::printf("%ld MiB from nginx on 127.0.0.1\n", mebibytes);
    Print("curl", curl, megabytes, curl);
    Print("wget", wget, megabytes, curl);
    Print("Dartflux", worker, megabytes, curl);
    return worker.ok ? 0 : 1;
}
