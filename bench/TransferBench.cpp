// Downloads one large file from nginx on loopback with curl, with wget, with the transfer worker
// alone and with the whole program (the main window in its own process, see
// WindowDownloadBench), one after the other in the same run, and prints throughput, CPU time and
// peak memory of each.
//
//   build/bench/TransferBench [size in MiB, default 1024] [items already in the window's list]

#include "NginxServer.h"
#include "OutputFiles.h"
#include "Transfer.h"

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    void SetActivity(const TransferActivity&) override {}
    void SetFileHandle(FileHandle, FileHandle) override {}
    bool IsPauseRequested() override { return false; }
    void OnTransferFinished(const TransferEnd&) override {
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

// Runs a program to its end. With output, its standard output is collected there instead of shown.
Figures RunCommand(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    int outputPipe[2] = {-1, -1};
    if (output != nullptr && pipe(outputPipe) != 0) {
        return {};
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (output != nullptr) {
            dup2(outputPipe[1], STDOUT_FILENO);
            close(outputPipe[0]);
            close(outputPipe[1]);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (output != nullptr) {
        close(outputPipe[1]);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(outputPipe[0], buffer, sizeof(buffer))) != 0) {
            if (got > 0) {
                output->append(buffer, static_cast<std::size_t>(got));
            } else if (errno != EINTR) {
                break;
            }
        }
        close(outputPipe[0]);
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

// The download's own time in WindowDownloadBench's report ("... N bytes in S s ..."); 0 without.
double ReportedDownloadSeconds(const std::string& report) {
    static constexpr std::string_view Marker = " bytes in ";
    const std::size_t at = report.find(Marker);
    return at == std::string::npos ? 0 : std::strtod(report.c_str() + at + Marker.size(), nullptr);
}

void Print(const char* name, const Figures& figures, double megabytes, const Figures& curl) {
    std::printf("%-9s %8.1f MB/s %8.2f s wall %8.2f s CPU %8.1f MB peak   %5.2fx curl throughput, "
                "%5.2fx curl CPU%s\n",
                name, megabytes / figures.seconds, figures.seconds, figures.cpuSeconds,
                figures.peakKilobytes / 1024.0, curl.seconds / figures.seconds,
                figures.cpuSeconds / curl.cpuSeconds, figures.ok ? "" : "   FAILED");
}

} // namespace

int main(int argc, char* argv[]) {
    const long mebibytes = argc > 1 ? std::stol(argv[1]) : 1024;
    const std::string listedItems = argc > 2 ? argv[2] : "0";
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

    std::printf("%ld MiB from nginx on 127.0.0.1\n", mebibytes);
    const Figures curl = RunCommand({"curl", "-s", "-o", out.toStdString(), url});
    QFile::remove(out);
    Print("curl", curl, megabytes, curl);
    const Figures wget = RunCommand({"wget", "-q", "-O", out.toStdString(), url});
    QFile::remove(out);
    Print("wget", wget, megabytes, curl);
    const Figures worker = RunWorker(url, downloads.path());
    // Deleted at once, as the others' files are, so that its pages are never written back
    // during the next download.
    QFile::remove(downloads.filePath("big.bin"));
    Print("worker", worker, megabytes, curl);
    std::string report;
    Figures window = RunCommand({WINDOW_DOWNLOAD_BENCH_PATH, url, listedItems}, &report);
    // The download itself, from Start All to Done: the start of Qt and the window is no part of
    // it. CPU and peak stay those of the whole process.
    window.seconds = ReportedDownloadSeconds(report);
    window.ok = window.ok && window.seconds > 0;
    Print("program", window, megabytes, curl);
    std::fputs(report.c_str(), stdout);

    std::printf("targets: program at least 0.8x curl throughput: %s; program peak under 100 MB: "
                "%s\n",
                window.ok && curl.seconds / window.seconds >= 0.8 ? "met" : "MISSED",
                window.ok && window.peakKilobytes < 100 * 1024 ? "met" : "MISSED");
    return worker.ok && window.ok ? 0 : 1;
}
