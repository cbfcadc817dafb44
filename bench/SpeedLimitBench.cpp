// The received rate against each speed limit: the transfer worker downloads from nginx on
// loopback with the limit set, and the rate is taken between its activity reports over the
// first ten seconds; three runs per limit.
//
//   build/bench/SpeedLimitBench [runs per limit, default 3]

#include "NginxServer.h"
#include "OutputFiles.h"
#include "Transfer.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto MeasuredTime = std::chrono::seconds(10);

// Pauses the transfer at its first activity report ten seconds after its first one, and keeps
// the bytes and times of those two reports.
class MeasuringOwner : public TransferOwner {
public:
    void SetTransferResult(int, std::uint32_t) override {}
    void SetFileName(const std::string&) override {}
    void SetProgress(int) override {}
    void SetTotalSize(std::int64_t) override {}
    void SetActivity(const TransferActivity& activity) override {
        const Clock::time_point now = Clock::now();
        if (!started_) {
            started_ = true;
            firstAt_ = now;
            firstBytes_ = activity.received;
        } else if (now - firstAt_ >= MeasuredTime && !pause_) {
            rate_ = static_cast<double>(activity.received - firstBytes_) /
                    std::chrono::duration<double>(now - firstAt_).count();
            pause_ = true;
        }
    }
    void SetFileHandle(FileHandle, FileHandle) override {}
    bool IsPauseRequested() override { return pause_; }
    void OnTransferFinished(const TransferEnd&) override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }
    // Bytes per second over the measured time; 0 when the transfer ended before it.
    double WaitForRate() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
        return rate_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    bool started_ = false;
    Clock::time_point firstAt_;
    std::int64_t firstBytes_ = 0;
    double rate_ = 0;
    std::atomic<bool> pause_{false};
};

double MeasureRate(const std::string& url, const std::string& folder, std::int64_t limit) {
    MeasuringOwner owner;
    DownloadTask task;
    task.owner = &owner;
    SetTaskAddress(task, url);
    std::string tempPath;
    task.fileHandle = OpenOutputFile(folder, tempPath);
    task.speedLimit = std::make_shared<const std::atomic<std::int64_t>>(limit);
    const auto control = StartTransfer(task);
    const double rate = control ? owner.WaitForRate() : 0;
    if (control) {
        control->WaitUntilFinished(std::chrono::seconds(5));
    }
    ::close(task.fileHandle);
    QFile::remove(QString::fromStdString(tempPath));
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    QTemporaryDir root;
    QTemporaryDir downloads;
    // Sparse: more than the highest limit delivers in the measured time.
    QFile source(root.filePath("big.bin"));
    if (!source.open(QIODevice::WriteOnly) || !source.resize(qint64(256) << 20)) {
        std::fprintf(stderr, "could not make the served file\n");
        return 1;
    }
    source.close();
    NginxServer nginx(root.path().toStdString());
    const std::string url = nginx.Url("/big.bin");
    std::printf("| limit | run 1 | run 2 | run 3 | of the limit |\n|---|---|---|---|---|\n");
    for (const std::int64_t limit : {256000, 1000000, 5000000, 10000000}) {
        std::printf("| %lld B/s |", static_cast<long long>(limit));
        double lowest = 1e300;
        double highest = 0;
        for (int run = 0; run < runs; ++run) {
            const double rate = MeasureRate(url, downloads.path().toStdString(), limit);
            lowest = std::min(lowest, rate);
            highest = std::max(highest, rate);
            std::printf(" %.0f B/s |", rate);
            std::fflush(stdout);
        }
        std::printf(" %.3f-%.3f |\n", lowest / limit, highest / limit);
    }
    return 0;
}
