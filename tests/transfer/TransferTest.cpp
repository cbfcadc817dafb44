#include "Transfer.h"
#include "ConnectionShare.h"
#include "LoopbackPort.h"
#include "OutputFiles.h"
#include "RecordingOwner.h"
#include "RequestToken.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "VersionCheck.h"

#include <QTemporaryDir>

#include <algorithm>
#include <numeric>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Serves exactly the given status, headers and body (chunked), whatever the request says.
void Respond(httplib::Response& response, int status, const httplib::Headers& headers,
             const std::string& body) {
    response.status = status;
    response.headers = headers;
    response.set_chunked_content_provider("application/octet-stream",
                                          [body](std::size_t, httplib::DataSink& sink) {
                                              sink.write(body.data(), body.size());
                                              sink.done();
                                              return true;
                                          });
}

// One transfer, run to its end: what it reported, and its temporary file.
struct Download {
    RecordingOwner owner;
    DownloadTask task;
    std::string tempPath;
};

class TransferTest : public ::testing::Test {
protected:
    // Downloads url into a new temporary file that holds existing; prepare may change the task.
    std::unique_ptr<Download> Fetch(const std::string& url, const std::string& existing = "",
                                    std::int64_t knownSize = 0,
                                    const std::function<void(Download&)>& prepare = {}) {
        auto download = std::make_unique<Download>();
        download->task.owner = &download->owner;
        SetTaskAddress(download->task, url);
        download->task.fileHandle = OpenOutputFile(Folder(), download->tempPath);
        EXPECT_TRUE(::write(download->task.fileHandle, existing.data(), existing.size()) >= 0);
        download->task.knownSize = knownSize;
        download->task.resumeOffset = static_cast<std::int64_t>(existing.size());
        download->task.retries = 0;
        if (prepare) {
            prepare(*download);
        }
        EXPECT_NE(StartTransfer(download->task), nullptr);
        EXPECT_TRUE(download->owner.WaitUntilFinished()) << "the transfer never finished";
        return download;
    }

    std::string Folder() const { return folder.path().toStdString(); }
    std::string PathOf(const std::string& name) const { return Folder() + "/" + name; }

    QTemporaryDir folder;
    TestHttpServer server;
};

// The server's name ".." is no name: the URL's is taken instead.
TEST_F(TransferTest, SendsTheTokenAndTheAgentOnlyAndSavesUnderTheUrlsName) {
    server.Get("/dir/.*", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Disposition", "attachment; filename=\"..\"");
        response.set_content(std::string(3000, 'b'), "application/octet-stream");
    });
    const auto download = Fetch(server.Url("/dir/my file.bin?x=1#part"));
    EXPECT_EQ(Fetch(server.Url("/dir/my file.bin?x=1#part"))->owner.names.back(), "my file (1).bin")
        << "the name the file really got";
    const TestHttpServer::Seen request = server.Requests().front();
    EXPECT_EQ(request.target, "/dir/my%20file.bin?x=1");
    std::string headers;
    for (const auto& [name, value] : request.headers) {
        headers += name.starts_with("REMOTE_") || name.starts_with("LOCAL_") ? "" : name + " ";
    }
    EXPECT_EQ(headers, "Accept Control Host User-Agent ");
    EXPECT_EQ(request.headers.find("User-Agent")->second, "Dartflux v.0.2");
    const std::string token = request.headers.find("Control")->second;
    const std::string digest = Md5Hex(request.target.data(), request.target.size());
    EXPECT_EQ(std::inner_product(token.begin(), token.end(), digest.begin(), 0, std::plus<>(),
                                 std::not_equal_to<>()),
              10)
        << "the token is made over the target as sent";
    EXPECT_EQ(download->owner.totals, std::vector<std::int64_t>{3000});
    EXPECT_EQ(download->owner.progress.front(), 0);
    EXPECT_EQ(download->owner.progress.back(), 100);
    EXPECT_EQ(download->owner.names, std::vector<std::string>{"my file.bin"});
    EXPECT_EQ(ReadFile(PathOf("my file.bin")), std::string(3000, 'b'));
}

// The Range answers a body plan cannot judge alone: a 200, a 416 on a complete or a longer file,
// and a 206 of another length, which is asked for again from the start.
TEST_F(TransferTest, AResumeAppendsOnlyTheExactRestOfTheKnownFile) {
    const std::string whole = std::string(400, 'a') + std::string(600, 'b');
    const std::string other = std::string(2000, 'c');
    const struct {
        std::string existing;
        int status; // the answer to the Range request
        std::string range, rangedBody, whole;
        std::size_t requests;
        int restarts;
    } cases[] = {
        {whole.substr(0, 400), 206, "bytes 400-999/1000", whole.substr(400), whole, 1, 0},
        {whole.substr(0, 400), 200, "", whole, whole, 1, 1},
        {whole.substr(0, 400), 206, "bytes 400-1999/2000", other.substr(400), other, 2, 1},
        {whole, 416, "bytes */1000", "", whole, 1, 0},
        {whole.substr(0, 400), 416, "bytes */1000", "", whole, 2, 1},
        {whole.substr(0, 400), 206, "bytes 400-999/2000", other.substr(400, 600), other, 2, 1},
        {whole + "junk", 416, "bytes */1000", "", whole, 2, 1},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string name = "r" + std::to_string(i) + ".bin";
        server.Get("/" + name, [c](const httplib::Request& request, httplib::Response& response) {
            const bool ranged = request.has_header("Range");
            const std::string& body = ranged ? c.rangedBody : c.whole;
            Respond(response, ranged ? c.status : 200,
                    {{"Content-Length", std::to_string(body.size())}, {"Content-Range", c.range}},
                    body);
        });
        const auto download = Fetch(server.Url("/" + name), c.existing, 1000);
        EXPECT_EQ(ReadFile(PathOf(name)), c.whole) << c.range;
        EXPECT_EQ(download->owner.fileRestarts, c.restarts) << c.range;
        const auto seen = server.Requests();
        EXPECT_EQ(seen.size(), c.requests) << c.range;
        EXPECT_EQ(seen.front().range, "bytes=" + std::to_string(c.existing.size()) + "-");
        server.ForgetRequests();
    }
}

// The first 10000 bytes arrive at once, but are taken in reads of 4096 with a pause poll after
// each.
TEST_F(TransferTest, AStalledServerIsPausedAtOnceOrFailsAfterTheLimit) {
    server.GetStalling("/stall.bin", 100000, std::string(10000, 'x'));
    enum class Pause { AtTheFirstBytes, WhileStalled, Never };
    for (const Pause pause : {Pause::AtTheFirstBytes, Pause::WhileStalled, Pause::Never}) {
        const auto download = Fetch(server.Url("/stall.bin"), "", 0, [pause](Download& d) {
            d.task.stallTimeout = pause == Pause::Never ? 1s : 60s;
            d.owner.onProgress = [&owner = d.owner, pause](int) {
                owner.pauseRequested = pause == Pause::AtTheFirstBytes;
            };
            d.owner.onActivity = [&owner = d.owner, pause](const TransferActivity& activity) {
                owner.pauseRequested = pause == Pause::WhileStalled && activity.received == 10000;
            };
        });
        const bool paused = pause != Pause::Never;
        EXPECT_EQ(download->owner.outcome,
                  paused ? TransferOutcome::Paused : TransferOutcome::Failed);
        EXPECT_EQ(download->owner.result.code, paused ? 0 : 9);
        EXPECT_EQ(ReadFile(download->tempPath),
                  std::string(pause == Pause::AtTheFirstBytes ? 4096 : 10000, 'x'));
        EXPECT_EQ(RecreateOutputFile(download->task.fileHandle), download->task.fileHandle)
            << "the file stays open and ours";
    }
}

// A failure that may heal is retried, resuming from the file's size, after the doubled delay or
// the server's Retry-After; others end at once; a pause ends the wait.
// Set once bytes flow, the limit holds back what an unlimited transfer would have taken within
// its first half second (the first activity report after the start).
TEST_F(TransferTest, ALimitSetWhileRunningHoldsTheTransferBack) {
    server.Get("/big", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(4000000, 'x'), "application/octet-stream");
    });
    const auto limit = std::make_shared<std::atomic<std::int64_t>>(0);
    const auto download = Fetch(server.Url("/big"), "", 0, [limit](Download& d) {
        d.task.speedLimit = limit;
        d.owner.onProgress = [limit](int) { limit->store(256000); };
        d.owner.onActivity = [&owner = d.owner](const TransferActivity& activity) {
            owner.pauseRequested = activity.received > 0;
        };
    });
    EXPECT_EQ(download->owner.outcome, TransferOutcome::Paused);
    EXPECT_EQ(download->owner.activities.back().speedLimit, 256000);
}

TEST_F(TransferTest, TransientFailuresAreRetriedAndOthersEndAtOnce) {
    const std::string body = PatternBytes(100000, 7);
    server.Get("/.*", [this, body](const httplib::Request& request, httplib::Response& response) {
        const auto earlier = server.Requests().size() - 1; // of the case's one path
        if (request.path == "/heal") {                     // the first answer breaks off halfway
            // An ETag too long to keep leaves the date to check the resume by.
            response.set_header("ETag", std::string("\"").append(2000, 'e').append("\""));
            response.set_header("Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT");
            response.set_content_provider(
                body.size(), "application/octet-stream",
                [body, earlier](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t piece = earlier == 0 ? 50000 - offset : length;
                    return sink.write(body.data() + offset, std::min(length, piece)) &&
                           (earlier > 0 || offset + piece < 50000);
                });
        } else if (request.path == "/later" && earlier > 0) {
            response.set_content("later", "text/plain");
        } else {
            response.status = request.path == "/missing" ? 404
                              : request.path == "/later" ? 429
                                                         : 503;
            response.set_header("Retry-After", request.path == "/later" ? "1" : "");
        }
    });
    const struct {
        std::string path;
        bool pause;
        TransferOutcome outcome;
        std::size_t requests;
        std::string file, secondRange;
        int lastRetry;
    } cases[] = {
        {"/heal", false, TransferOutcome::Completed, 2, body, "bytes=50000-", 1},
        {"/busy", false, TransferOutcome::Failed, 6, "<missing>", "", 5},
        {"/later", false, TransferOutcome::Completed, 2, "later", "", 1},
        {"/missing", false, TransferOutcome::Failed, 1, "<missing>", "", 0},
        {"/busy", true, TransferOutcome::Paused, 1, "<missing>", "", 1},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto download = Fetch(server.Url(c.path), "", 0, [&c](Download& d) {
            d.task.retries = 5;
            d.task.firstRetryDelay = c.pause ? 10s : 50ms;
            d.owner.onActivity = [&owner = d.owner, &c](const TransferActivity& activity) {
                owner.pauseRequested = c.pause && activity.retry > 0;
            };
        });
        SCOPED_TRACE(c.path);
        EXPECT_EQ(download->owner.outcome, c.outcome);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "a pause ends the wait";
        EXPECT_TRUE(ReadFile(PathOf(c.path.substr(1))) == c.file);
        EXPECT_EQ(std::max_element(download->owner.activities.begin(),
                                   download->owner.activities.end(),
                                   [](const auto& a, const auto& b) { return a.retry < b.retry; })
                      ->retry,
                  c.lastRetry);
        const auto seen = server.Requests();
        server.ForgetRequests();
        ASSERT_EQ(seen.size(), c.requests);
        if (c.requests == 2) {
            EXPECT_EQ(seen[1].range, c.secondRange);
            EXPECT_EQ(seen[1].ifRange,
                      c.secondRange.empty() ? "" : "Wed, 21 Oct 2015 07:28:00 GMT");
            EXPECT_GE(seen[1].at - seen[0].at, c.path == "/later" ? 1s : 50ms);
        }
    }
}

TEST_F(TransferTest, FilesOfOneHostShareAConnectionButNeverSkipTheCertificateCheck) {
    server.Get("/port/.*", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::to_string(request.remote_port), "text/plain");
    });
    const auto connections = std::make_shared<ConnectionShare>();
    const auto shared = [connections](Download& download) {
        download.task.connections = connections;
    };
    for (const char* name : {"a", "b"}) {
        Fetch(server.Url("/port/") + name, "", 0, shared);
    }
    EXPECT_NE(ReadFile(PathOf("a")), "<missing>");
    EXPECT_EQ(ReadFile(PathOf("b")), ReadFile(PathOf("a"))) << "the client's port: one connection";

    // A host trusted once, then serving another certificate on the same port.
    ASSERT_TRUE(TestHttpServer::MakeCertificate(PathOf("trusted.pem"), PathOf("trusted.key")) &&
                TestHttpServer::MakeCertificate(PathOf("other.pem"), PathOf("other.key")));
    ::setenv("SSL_CERT_FILE", PathOf("trusted.pem").c_str(), 1);
    int port = 0;
    for (const std::string name : {"trusted", "other"}) {
        TestHttpServer tls(PathOf(name + ".pem"), PathOf(name + ".key"), port);
        port = tls.port();
        tls.Get("/tls.bin", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("secret", "text/plain");
        });
        const TransferResult result = Fetch(tls.Url("/tls.bin"), "", 0, shared)->owner.result;
        EXPECT_EQ(result.code, name == "trusted" ? 0 : 4);
        EXPECT_EQ(result.systemError, name == "trusted" ? 0 : CURLE_PEER_FAILED_VERIFICATION);
    }
    ::unsetenv("SSL_CERT_FILE");
}

// Each kind of failure names its step and keeps the bytes that arrived, never an error page; the
// version header is checked on every final answer, with the row already named; and the next
// download over the same connections ends as if it were the first of the run.
TEST_F(TransferTest, FailuresNameTheirStepKeepTheirBytesAndLeaveNothingForTheNext) {
    int asked = 0;
    RecordingOwner* asking = nullptr;
    std::string namedWhenAsked;
    SetNewVersionHook([&] {
        ++asked;
        namedWhenAsked += (asking->names.empty() ? "-" : asking->names.back()) + " ";
    });
    const std::string good = PatternBytes(200000, 5);
    server.Get("/status/([0-9]+)", [](const httplib::Request& request,
                                      httplib::Response& response) {
        if (request.has_param("v")) {
            response.set_header("ActualDFXVersion", request.get_param_value("v"));
        }
        Respond(response, std::stoi(request.path.substr(8)), response.headers, "<html>page</html>");
    });
    server.Get("/good/.*", [good](const httplib::Request&, httplib::Response& response) {
        response.set_content(good, "application/octet-stream");
    });
    server.Get("/to/(.*)", [](const httplib::Request& request, httplib::Response& response) {
        response.set_redirect(request.path == "/to/loop" ? "/to/loop" : request.path.substr(4));
    });
    server.Get("/drop.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(100000, "application/octet-stream",
                                      [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          return offset == 0 &&
                                                 sink.write(std::string(50000, 'd').data(), 50000);
                                      });
    });
    server.Get("/short.bin", [](const httplib::Request&, httplib::Response& response) {
        Respond(response, 200, {{"Content-Length", "1000"}}, std::string(500, 's'));
    });
    server.GetStalling("/stall", 100000, "ssss");
    ASSERT_TRUE(TestHttpServer::MakeCertificate(PathOf("c.pem"), PathOf("c.key")));
    TestHttpServer untrusted(PathOf("c.pem"), PathOf("c.key"));
    SmallFileSystem full("4k");
    ASSERT_TRUE(full.Mounted()) << full.Error();
    const std::string here = "127.0.0.1:" + std::to_string(server.port());
    const auto connections = std::make_shared<ConnectionShare>();
    const auto withoutFile = [](Download& d) {
        DiscardOutputFile(d.task.fileHandle);
        d.task.fileHandle = NoFileHandle;
    };
    const auto replaced = [](Download& d) { // another file takes the name while it downloads
        WriteFile(d.tempPath + "2", "other");
        ::rename((d.tempPath + "2").c_str(), d.tempPath.c_str());
    };
    const auto intoFullDisk = [&full](Download& d) {
        DiscardOutputFile(d.task.fileHandle);
        d.tempPath.clear();
        d.task.fileHandle = OpenOutputFile(full.Path().toStdString(), d.tempPath);
    };
    const auto paused = [](Download& d) { d.owner.pauseRequested = true; };
    using enum TransferOutcome;
    const std::optional<std::string> partial = "partial";
    const std::string ftp = "ftp://" + here + "/a";
    const std::string file = "file:///etc/passwd";
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/a";
    const struct {
        std::string url;
        std::function<void(Download&)> prepare;
        TransferOutcome outcome;
        TransferResult result;
        std::optional<std::string> kept;
        int asks = 0; // new-version questions
        std::string sentTo = {};
    } cases[] = {
        {server.Url("/status/200?v=v.0.2"), {}, Completed, {}, {}},
        {server.Url("/status/200?v=v.0.3"), {}, Completed, {}, {}, 1},
        {server.Url("/status/404?v="), {}, Failed, {8, 404}, partial, 1},
        {server.Url("/status/500"), {}, Failed, {8, 500}, partial},
        {server.Url("/drop.bin?"), {}, Failed, {9, CURLE_PARTIAL_FILE}, std::string(50000, 'd')},
        {server.Url("/short.bin?"), {}, Failed, {9, CURLE_PARTIAL_FILE}, std::string(500, 's')},
        {server.Url("/status/200?"), replaced, Failed, {9, ENOENT}, "other"},
        {server.Url("/status/200"), withoutFile, Failed, {9, EBADF}, {}},
        {server.Url("/good/full?"), intoFullDisk, Failed, {9, ENOSPC}, {}},
        {server.Url("/good/paused?"), paused, Paused, {}, {}},
        {"http://nosuchhost.invalid/a", {}, Failed, {4, CURLE_COULDNT_RESOLVE_HOST}, partial},
        {"http://127.0.0.1:99999/a", {}, Failed, {5, CURLE_URL_MALFORMAT}, partial},
        {"http:///a", {}, Failed, {5, CURLE_URL_MALFORMAT}, partial},
        {refused, {}, Failed, {4, CURLE_COULDNT_CONNECT}, partial},
        // The answer to the Range request stalls before its first byte.
        {server.Url("/stall"), {}, Failed, {8, CURLE_OPERATION_TIMEDOUT}, partial},
        {"https://" + here + "/good/a", {}, Failed, {4, CURLE_SSL_CONNECT_ERROR}, partial},
        {untrusted.Url("/a"), {}, Failed, {4, CURLE_PEER_FAILED_VERIFICATION}, partial},
        {server.Url("/to/loop"), {}, Failed, {8, CURLE_TOO_MANY_REDIRECTS}, partial},
        {server.Url("/to/" + ftp), {}, Failed, {5, CURLE_UNSUPPORTED_PROTOCOL}, partial, 0, ftp},
        {server.Url("/to/" + file), {}, Failed, {5, CURLE_UNSUPPORTED_PROTOCOL}, partial, 0, file},
        {ftp, {}, Failed, {5, CURLE_UNSUPPORTED_PROTOCOL}, partial},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.url);
        asked = 0;
        // Resumed (of a known size), unless the whole body comes again ("?" in the URL).
        const bool fresh = c.outcome == Completed || c.url.ends_with("?");
        const auto failed = Fetch(c.url, "partial", fresh ? 0 : 1000000, [&](Download& d) {
            asking = &d.owner;
            d.task.connections = connections;
            d.task.retries = 1; // the retry too meets the same failure, not a spoilt handle
            d.task.firstRetryDelay = 10ms;
            d.task.stallTimeout = 1s;
            if (c.prepare) {
                c.prepare(d);
            }
        });
        EXPECT_EQ(failed->owner.outcome, c.outcome);
        EXPECT_EQ(failed->owner.result.code, c.result.code);
        EXPECT_EQ(failed->owner.result.systemError, c.result.systemError);
        EXPECT_EQ(asked, c.asks);
        EXPECT_TRUE(!c.kept || ReadFile(failed->tempPath) == *c.kept) << "no error page";
        EXPECT_EQ(failed->owner.end.failure.redirectTarget, c.sentTo);

        const std::string name = "g" + std::to_string(i);
        const auto next = Fetch(server.Url("/good/" + name), "", 0,
                                [&](Download& d) { d.task.connections = connections; });
        EXPECT_EQ(next->owner.outcome, Completed);
        EXPECT_TRUE(ReadFile(PathOf(name)) == good) << "the next download is whole";
    }
    EXPECT_EQ(namedWhenAsked, "200 - ") << "the row shows its name while the user is asked";
    SetNewVersionHook({});
}

// The kept validator goes out as If-Range: the same file goes on, a changed one comes whole. A
// weak ETag is never kept, since it cannot tell byte-equal versions apart.
TEST_F(TransferTest, AResumeAsksIfRangeAndTakesAChangedFileWhole) {
    const std::string first = PatternBytes(1000, 1);
    const std::string second = PatternBytes(1000, 2);
    server.Get("/(same|changed|weak)", [=](const httplib::Request& request,
                                           httplib::Response& response) {
        const bool same = request.path == "/same";
        const std::string tag = same ? "\"v1\"" : request.path == "/weak" ? "W/\"w\"" : "\"v2\"";
        const std::string& body = same ? first : second;
        const bool ranged =
            request.has_header("Range") && request.get_header_value("If-Range") == tag;
        Respond(response, ranged ? 206 : 200,
                {{"ETag", tag}, {"Content-Range", ranged ? "bytes 400-999/1000" : ""}},
                ranged ? body.substr(400) : body);
    });
    for (const std::string name : {"same", "changed"}) {
        const auto download =
            Fetch(server.Url("/" + name), first.substr(0, 400), 1000,
                  [](Download& d) { StoreResumeValidator(d.task.fileHandle, "\"v1\""); });
        EXPECT_TRUE(ReadFile(PathOf(name)) == (name == "same" ? first : second)) << name;
        EXPECT_EQ(download->owner.fileRestarts, name == "same" ? 0 : 1);
    }
    const auto weak = Fetch(server.Url("/weak"), "", 0, [](Download& d) {
        d.owner.onProgress = [&owner = d.owner](int) { owner.pauseRequested = true; };
    });
    EXPECT_EQ(ResumeValidator(weak->task.fileHandle), "");
    EXPECT_EQ(server.Requests().size(), 3u);
}

} // namespace
