#include "OutputFiles.h"
#include "RecordingOwner.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "Transfer.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <set>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t FileSize = 8 * 1024 * 1024;

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
    // Runs a transfer of url into the task's file (a new one when it has none) to its end.
    void Run(const std::string& url, RecordingOwner& owner) {
        task.owner = &owner;
        SetTaskAddress(task, url);
        if (task.fileHandle == NoFileHandle) {
            task.fileHandle = OpenOutputFile(folder.path().toStdString(), tempPath);
        }
        task.retries = 0;
        ASSERT_NE(StartTransfer(task), nullptr);
        ASSERT_TRUE(owner.WaitUntilFinished(60s));
        task.knownSize = owner.totals.empty() ? 0 : owner.totals.back();
    }
    std::string Saved(const std::string& name) const {
        return ReadFile(folder.filePath(QString::fromStdString(name)).toStdString());
    }
    // The Range of each request so far ("" for none) whose target ends with the suffix.
    std::vector<std::string> Ranges(const std::string& suffix = "") {
        std::vector<std::string> ranges;
        for (const TestHttpServer::Seen& seen : server.Requests()) {
            if (seen.target.ends_with(suffix)) {
                ranges.push_back(seen.range);
            }
        }
        return ranges;
    }
    QTemporaryDir folder;
    TestHttpServer server;
    DownloadTask task;
    std::string tempPath;
    const Served file{PatternBytes(FileSize, 1), "\"one\""};
};

// Eight parts at once, each on a TCP connection of its own. Six of them refused with a status or
// reset after their headers, or one cut off after 100000 bytes: each such part is asked for again
// from where it stopped.
TEST_F(SplitTransferTest, ConnectionsTheServerRefusesOrCutsOffLeaveTheRestToTheOthers) {
    const struct {
        int status;
        std::size_t breakAt;
        int lastBroken;
    } cases[] = {{503, 0, 7}, {429, 0, 7}, {206, 0, 7}, {206, 100000, 2}};
    for (const auto& c : cases) {
        const std::string name = "f" + std::to_string(c.status) + "-" + std::to_string(c.breakAt);
        server.Get("/" + name, [&](const httplib::Request& request, httplib::Response& response) {
            const int index = TestHttpServer::HandledIndex();
            const bool broken = index >= 2 && index <= c.lastBroken;
            if (broken && c.status != 206) {
                response.status = c.status;
            } else {
                Serve(request, response, file, broken ? c.breakAt : std::string::npos);
            }
        });
        server.ForgetRequests();
        RecordingOwner owner;
        task = {};
        Run(server.Url("/" + name), owner);
        SCOPED_TRACE(name);
        std::set<int> clientPorts;
        for (const TestHttpServer::Seen& seen : server.Requests()) {
            clientPorts.insert(seen.clientPort);
        }
        EXPECT_GE(clientPorts.size(), 8u);
        EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
        EXPECT_TRUE(Saved(name) == file.body);
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

// The first answer shows one file; the parts are answered from another or as a whole: without
// Accept-Ranges at first, as a 200 of the same file, a 200 or a 206 with another validator, a
// 206 of another total. All but the first start again and end on one connection.
TEST_F(SplitTransferTest, AnythingButAPartOfTheSameFileLeavesTheDownloadToOneConnection) {
    const Served whole{file.body, file.etag, false};
    const struct {
        Served first, later;
    } cases[] = {{whole, whole},
                 {file, whole},
                 {file, {PatternBytes(FileSize, 2), "\"two\"", false}},
                 {file, {PatternBytes(FileSize, 3), "\"three\""}},
                 {file, {PatternBytes(FileSize + 4, 4), file.etag}}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string name = "c" + std::to_string(i);
        server.Get("/" + name, [&, i](const httplib::Request& request, auto& response) {
            Serve(request, response,
                  TestHttpServer::HandledIndex() == 0 ? cases[i].first : cases[i].later);
        });
        server.ForgetRequests();
        RecordingOwner owner;
        task = {};
        Run(server.Url("/" + name), owner);
        EXPECT_EQ(owner.outcome, TransferOutcome::Completed);
        EXPECT_EQ(owner.fileRestarts, i == 0 ? 0 : 1);
        const std::vector<std::string> asked = Ranges();
        EXPECT_EQ(std::count(asked.begin(), asked.end(), ""), i == 0 ? 1 : 2) << name;
        EXPECT_TRUE(Saved(name) == cases[i].later.body) << name;
    }
}

// Paused at 40 %, then started again: on one connection, so that what it asks for can be told
// exactly (the gaps of the kept map), and on eight.
TEST_F(SplitTransferTest, AStartAfterAPauseFetchesOnlyWhatTheKeptMapLacks) {
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
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
        server.ForgetRequests();
        RecordingOwner second;
        task.connectionLimit = limit;
        task.resumeOffset = OutputFileSize(task.fileHandle);
        Run(server.Url("/" + name + "?again"), second);
        SCOPED_TRACE(name);
        EXPECT_EQ(second.outcome, TransferOutcome::Completed);
        EXPECT_TRUE(Saved(name) == file.body);
        // Each part inside a gap; on one connection, each gap once. The stopped run's last
        // requests may come late.
        const std::vector<std::string> asked = Ranges("?again");
        EXPECT_EQ(asked.at(0), "bytes=" + std::to_string(kept->WrittenFromStart()) + "-");
        const std::vector<ByteRange> missing = kept->Missing();
        std::set<std::string> gaps;
        for (const ByteRange gap : missing) {
            gaps.insert("bytes=" + std::to_string(gap.begin) + "-" + std::to_string(gap.end - 1));
        }
        for (const std::string& range : asked) {
            std::int64_t begin = -1;
            std::int64_t last = -1;
            std::sscanf(range.c_str(), "bytes=%ld-%ld", &begin, &last);
            EXPECT_TRUE(
                std::any_of(missing.begin(), missing.end(),
                            [&](ByteRange gap) { return gap.begin <= begin && last < gap.end; }))
                << range << " is not inside a gap";
        }
        if (limit == 1) {
            EXPECT_EQ(std::set(asked.begin() + 1, asked.end()), gaps);
        }
    }
}

TEST_F(SplitTransferTest, ADiskTooSmallForTheFileFailsBeforeAnyPartIsFetched) {
    SmallFileSystem small("1m");
    ASSERT_TRUE(small.Mounted()) << small.Error();
    server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        Serve(request, response, file);
    });
    task.fileHandle = OpenOutputFile(small.Path().toStdString(), tempPath);
    RecordingOwner owner;
    Run(server.Url("/big.bin"), owner);
    EXPECT_EQ(owner.outcome, TransferOutcome::Failed);
    EXPECT_EQ(owner.result.code, 9);
    EXPECT_EQ(owner.result.systemError, static_cast<std::uint32_t>(ENOSPC));
    EXPECT_EQ(owner.end.failure.source, ErrorSource::FileWrite);
    EXPECT_EQ(Ranges().size(), 1u);
    EXPECT_EQ(QDir(small.Path()).entryList(QDir::Files).size(), 1) << "only the temporary file";
}

} // namespace
