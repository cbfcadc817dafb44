#include "NginxServer.h"
#include "OutputFiles.h"
#include "RecordingOwner.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "Transfer.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t FileSize = 8 * 1024 * 1024;

std::string RandomBytes(std::size_t size, quint32 seed) {
    std::string bytes(size, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// One version of the file the scripted server serves.
struct Served {
    std::string body, etag;
    bool ranges = true; // a Range is answered with a 206 of it
};

// Answers request from version; breakAt cuts the body off after that many bytes.
void Serve(const httplib::Request& request, httplib::Response& response, const Served& version,
           std::size_t breakAt = std::string::npos) {
    std::size_t first = 0;
    std::size_t last = version.body.size() - 1;
    const std::string range = request.get_header_value("Range");
    response.status = 200;
    response.set_header("ETag", version.etag);
    if (version.ranges) {
        response.set_header("Accept-Ranges", "bytes");
        if (!range.empty() && std::sscanf(range.c_str(), "bytes=%zu-%zu", &first, &last) >= 1) {
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(last) + "/" +
                                                     std::to_string(version.body.size()));
        }
    }
    const std::string body = version.body.substr(first, last - first + 1);
    response.set_header("Content-Length", std::to_string(body.size()));
    response.set_chunked_content_provider(
        "application/octet-stream", [body, breakAt](std::size_t, httplib::DataSink& sink) {
            if (breakAt > 0) {
                sink.write(body.data(), std::min(body.size(), breakAt));
            }
            if (breakAt >= body.size()) {
                sink.done();
            }
            return breakAt >= body.size();
        });
}

class SplitTransferTest : public ::testing::Test {
protected:
    // Runs a transfer of url into the file of the task (a new one when it has none).
    void Run(const std::string& url, RecordingOwner& owner,
             const std::function<void(TransferControl&)>& whileRunning = {}) {
        task.owner = &owner;
        SetTaskAddress(task, url);
        if (task.fileHandle == NoFileHandle) {
            task.fileHandle = OpenOutputFile(folder.path().toStdString(), tempPath);
        }
        task.retries = 0;
        const auto control = StartTransfer(task);
        ASSERT_NE(control, nullptr);
        if (whileRunning) {
            whileRunning(*control);
        }
        ASSERT_TRUE(owner.WaitUntilFinished(60s));
        task.knownSize = owner.totals.empty() ? 0 : owner.totals.back();
    }
    // The Range of every request so far, in order of arrival ("" for none).
    std::vector<std::string> Ranges() {
        std::lock_guard lock(mutex);
        return ranges;
    }
    int Log(const httplib::Request& request) {
        std::lock_guard lock(mutex);
        ranges.push_back(request.get_header_value("Range"));
        return static_cast<int>(ranges.size()) - 1;
    }
    static int MostConnections(const RecordingOwner& owner) {
        int most = 0;
        for (const TransferActivity& activity : owner.activities) {
            most = std::max(most, activity.connections);
        }
        return most;
    }

    QTemporaryDir folder;
    TestHttpServer server;
    DownloadTask task;
    std::string tempPath;
    std::mutex mutex;
    std::vector<std::string> ranges;
    const Served file{RandomBytes(FileSize, 1), "\"one\""};
};

TEST_F(SplitTransferTest, ALimitedServerServesTheFileOverSeveralConnections) {
    QTemporaryDir root;
    const std::string big = RandomBytes(2 * FileSize, 5);
    ASSERT_TRUE(WriteFile(root.filePath("big.bin").toStdString(), big));
    NginxServer nginx(root.path().toStdString(), "limit_rate 1m;",
                      "access_log " + root.filePath("access.log").toStdString() + " parts;",
                      "log_format parts '$connection $status';");
    RecordingOwner owner;
    Run(nginx.Url("/big.bin"), owner);
    EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
    EXPECT_TRUE(ReadFile(folder.filePath("big.bin").toStdString()) == big);
    EXPECT_EQ(MostConnections(owner), 8);
    std::set<std::string> partConnections;
    // nginx logs a request after its last byte, which may be after the client's end.
    for (int wait = 0; wait < 500 && partConnections.size() < 8; ++wait) {
        std::this_thread::sleep_for(10ms);
        std::ifstream log(root.filePath("access.log").toStdString());
        for (std::string connection, status; log >> connection >> status;) {
            if (status == "206") {
                partConnections.insert(connection);
            }
        }
    }
    EXPECT_GE(partConnections.size(), 8u) << "each part on a TCP connection of its own";
}

// Without Accept-Ranges the first answer is the whole download; a server that claims ranges
// but answers every part whole is left for one connection from the start.
TEST_F(SplitTransferTest, AServerThatServesNoRangesIsUsedOverOneConnection) {
    for (const bool claimsRanges : {false, true}) {
        server.Get("/" + std::to_string(claimsRanges), [&](const auto& request, auto& response) {
            Served whole = file;
            whole.ranges = claimsRanges && Log(request) == 0;
            Serve(request, response, whole);
        });
        RecordingOwner owner;
        task = {};
        Run(server.Url("/" + std::to_string(claimsRanges)), owner);
        EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
        EXPECT_TRUE(ReadFile(folder.filePath(claimsRanges ? "1" : "0").toStdString()) == file.body);
        EXPECT_EQ(owner.fileRestarts, claimsRanges ? 1 : 0);
        EXPECT_EQ(Ranges().size(), claimsRanges ? 10u : 0u) << "first, 8 parts, one whole";
    }
}

// Six of the first eight parts refused with a status or reset after their headers, or one part
// cut off after 100000 bytes: each such part is asked for again from where it stopped.
TEST_F(SplitTransferTest, ConnectionsTheServerRefusesOrCutsOffLeaveTheRestToTheOthers) {
    const struct {
        int status;
        std::size_t breakAt;
        int lastBroken;
    } cases[] = {{503, 0, 7}, {429, 0, 7}, {206, 0, 7}, {206, 100000, 2}};
    for (const auto& c : cases) {
        const std::string name = "f" + std::to_string(c.status) + "-" + std::to_string(c.breakAt);
        server.Get("/" + name, [&](const httplib::Request& request, httplib::Response& response) {
            const int index = Log(request);
            const bool broken = index >= 2 && index <= c.lastBroken;
            if (broken && c.status != 206) {
                response.status = c.status;
            } else {
                Serve(request, response, file, broken ? c.breakAt : std::string::npos);
            }
        });
        ranges.clear();
        RecordingOwner owner;
        task = {};
        Run(server.Url("/" + name), owner);
        SCOPED_TRACE(name);
        EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
        EXPECT_TRUE(ReadFile(folder.filePath(QString::fromStdString(name)).toStdString()) ==
                    file.body);
        EXPECT_EQ(owner.fileRestarts, 0);
        const std::vector<std::string> asked = Ranges();
        std::size_t first = 0;
        ASSERT_EQ(std::sscanf(asked.at(2).c_str(), "bytes=%zu-", &first), 1);
        const std::string rest = "bytes=" + std::to_string(first + c.breakAt) + "-";
        EXPECT_TRUE(std::any_of(asked.begin() + 3, asked.end(), [&](const std::string& range) {
            return range.starts_with(rest);
        })) << rest;
    }
}

// The first answer is of one file; every later one of another: a whole 200, a 206 with another
// validator, a 206 of another total.
TEST_F(SplitTransferTest, APartOfAnotherFileStartsTheDownloadAgainOnOneConnection) {
    const Served changed[] = {{RandomBytes(FileSize, 2), "\"two\"", false},
                              {RandomBytes(FileSize, 3), "\"three\""},
                              {RandomBytes(FileSize + 4, 4), "\"one\""}};
    for (std::size_t i = 0; i < std::size(changed); ++i) {
        const std::string name = "c" + std::to_string(i);
        server.Get("/" + name,
                   [&, i](const httplib::Request& request, httplib::Response& response) {
                       Serve(request, response, Log(request) == 0 ? file : changed[i]);
                   });
        ranges.clear();
        RecordingOwner owner;
        task = {};
        Run(server.Url("/" + name), owner);
        EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
        EXPECT_EQ(owner.fileRestarts, 1);
        const std::vector<std::string> asked = Ranges();
        EXPECT_EQ(std::count(asked.begin(), asked.end(), ""), 2) << "asked again whole";
        EXPECT_TRUE(ReadFile(folder.filePath(QString::fromStdString(name)).toStdString()) ==
                    changed[i].body);
    }
}

// Paused at 40 %, then started again: on one connection, so that what it asks for can be told
// exactly (the gaps of the kept map), and on eight.
TEST_F(SplitTransferTest, AStartAfterAPauseFetchesOnlyWhatTheKeptMapLacks) {
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        if (request.has_param("again")) { // the stopped run's last requests may come late
            Log(request);
        }
        Serve(request, response, file);
    });
    for (const int limit : {1, 8}) {
        const std::string name = "p" + std::to_string(limit);
        RecordingOwner first;
        first.onProgress = [&first](int percent) { first.pauseRequested = percent >= 40; };
        task = {};
        Run(server.Url("/" + name), first);
        ASSERT_EQ(first.outcome, TransferOutcome::Paused);
        const std::optional<PartMap> kept = WrittenParts(task.fileHandle);
        ASSERT_TRUE(kept && kept->WrittenBytes() > kept->WrittenFromStart()) << "parts ahead";
        ranges.clear();
        RecordingOwner second;
        task.connectionLimit = limit;
        task.resumeOffset = OutputFileSize(task.fileHandle);
        Run(server.Url("/" + name + "?again"), second);
        SCOPED_TRACE(name);
        EXPECT_EQ(second.outcome, TransferOutcome::Completed);
        EXPECT_TRUE(ReadFile(folder.filePath(QString::fromStdString(name)).toStdString()) ==
                    file.body);
        const std::vector<ByteRange> missing = kept->Missing();
        std::vector<std::string> gaps{"bytes=" + std::to_string(kept->WrittenFromStart()) + "-"};
        for (const ByteRange gap : missing) {
            gaps.push_back("bytes=" + std::to_string(gap.begin) + "-" +
                           std::to_string(gap.end - 1));
        }
        std::vector<std::string> asked = Ranges();
        for (std::size_t i = 1; i < asked.size(); ++i) {
            std::int64_t begin = 0;
            std::int64_t last = 0;
            std::sscanf(asked[i].c_str(), "bytes=%ld-%ld", &begin, &last);
            EXPECT_TRUE(std::any_of(missing.begin(), missing.end(), [&](const ByteRange& gap) {
                return gap.begin <= begin && last < gap.end;
            })) << asked[i];
        }
        std::sort(asked.begin() + 1, asked.end());
        std::sort(gaps.begin() + 1, gaps.end());
        EXPECT_TRUE(limit > 1 || asked == gaps);
    }
}

TEST_F(SplitTransferTest, ADiskTooSmallForTheFileFailsBeforeAnyPartIsFetched) {
    SmallFileSystem small("1m");
    ASSERT_TRUE(small.Mounted()) << small.Error();
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        Log(request);
        Serve(request, response, file);
    });
    task.fileHandle = OpenOutputFile(small.Path().toStdString(), tempPath);
    RecordingOwner owner;
    Run(server.Url("/big.bin"), owner);
    EXPECT_EQ(owner.outcome, TransferOutcome::Failed);
    EXPECT_EQ(owner.result.code, 9);
    EXPECT_EQ(owner.result.systemError, static_cast<std::uint32_t>(ENOSPC));
    EXPECT_EQ(owner.activities.back().failure->source, ErrorSource::FileWrite);
    EXPECT_EQ(Ranges().size(), 1u);
    EXPECT_EQ(QDir(small.Path()).entryList(QDir::Files).size(), 1) << "only the temporary file";
}

} // namespace
