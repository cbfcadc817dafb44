// Downloads many small files from one host, each batch three ways: through the real download
// queue and transfer worker, with one `curl --remote-name-all` over all the URLs and with one
// `wget -i` over a list of them. Prints the wall time of each and the TCP connections and full TLS
// handshakes nginx saw, so that a queue that opens a connection per file shows at once.
//
//   build/bench/ConnectionBench [rounds, default 1]
//
// With several rounds the clients take turns in every round; the time shown is the median, the
// connections and handshakes the most any round needed.

#include "DownloadQueue.h"
#include "LatencyProxy.h"
#include "LoopbackPort.h"
#include "NginxServer.h"
#include "TemporaryHome.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
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
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int FileSize = 16 * 1024;
constexpr int MostFiles = 300;
constexpr std::chrono::milliseconds ProxyRoundTrip{40};
// A queue still running after this long has failed, whatever the reason.
constexpr std::chrono::minutes QueueTimeout{2};
// nginx logs a request only after its last byte went out, so the log may trail a client's end.
constexpr std::chrono::seconds LogWait{2};
constexpr double TargetRatio = 1.05;

// Logged per request, with which connection carried it and whether its TLS session was resumed
// ("r"), new (".") or absent ("-", plain http).
constexpr char LogFormat[] =
    "log_format connections '$connection $ssl_session_reused $status $body_bytes_sent "
    "$request_uri';";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string FileName(int index) {
    char name[16];
    std::snprintf(name, sizeof(name), "f%03d.bin", index);
    return name;
}

bool WriteServedFiles(const QString& folder) {
    std::string bytes(FileSize, '\0');
    for (int file = 0; file < MostFiles; ++file) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(((i + 1) * (file + 7) * 2654435761u) >> 13);
        }
        QFile served(QDir(folder).filePath(QString::fromStdString(FileName(file))));
        if (!served.open(QIODevice::WriteOnly) ||
            served.write(bytes.data(), FileSize) != FileSize) {
            return false;
        }
    }
    return true;
}

struct LogCounts {
    int requests = 0;
    int connections = 0;
    int fullHandshakes = 0;
    int failedRequests = 0;
};

// nginx's access log in LogFormat, read on from where the previous reading stopped.
class AccessLog {
public:
    explicit AccessLog(std::string path) : path_(std::move(path)) {}

    // The requests logged since the last call, once at least expectedRequests are there (or
    // LogWait has passed).
    LogCounts TakeRun(int expectedRequests) {
        std::vector<std::string> lines;
        const Clock::time_point giveUp = Clock::now() + LogWait;
        for (;;) {
            ReadNewLines(lines);
            if (static_cast<int>(lines.size()) >= expectedRequests || Clock::now() > giveUp) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::set<std::string> connections;
        std::set<std::string> fullHandshakes;
        LogCounts counts;
        for (const std::string& line : lines) {
            std::istringstream fields(line);
            std::string connection;
            std::string reused;
            std::string status;
            fields >> connection >> reused >> status;
            ++counts.requests;
            connections.insert(connection);
            if (reused == ".") {
                fullHandshakes.insert(connection);
            }
            if (status != "200") {
                ++counts.failedRequests;
            }
        }
        counts.connections = static_cast<int>(connections.size());
        counts.fullHandshakes = static_cast<int>(fullHandshakes.size());
        return counts;
    }

private:
    void ReadNewLines(std::vector<std::string>& lines) {
        std::ifstream log(path_, std::ios::binary);
        log.seekg(static_cast<std::streamoff>(offset_));
        std::string line;
        // A line without its newline is still being written: it is read next time.
        while (std::getline(log, line) && !log.eof()) {
            offset_ += line.size() + 1;
            lines.push_back(line);
        }
    }

    std::string path_;
    std::size_t offset_ = 0;
};

// What went wrong with a client's files, or "" when the folder holds exactly the files, each
// whole.
std::string CheckFiles(const QString& folder, int files) {
    const QDir dir(folder);
    const auto present = dir.entryList(QDir::Files | QDir::Hidden | QDir::System).size();
    if (present != files) {
        return std::to_string(present) + " files in the folder instead of " + std::to_string(files);
    }
    for (int file = 0; file < files; ++file) {
        const QFileInfo info(dir.filePath(QString::fromStdString(FileName(file))));
        if (!info.isFile()) {
            return FileName(file) + " missing";
        }
        if (info.size() != FileSize) {
            return FileName(file) + " has " + std::to_string(info.size()) + " bytes";
        }
    }
    return {};
}

// Runs a program to its end and returns its wall time; failure tells why it did not succeed.
double RunProgram(const std::vector<std::string>& arguments, std::string& failure) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        failure = "could not start " + arguments[0];
        return 0;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = SecondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = arguments[0] + " ended with status " + std::to_string(WEXITSTATUS(status));
    }
    return seconds;
}

// The real queue and worker, from Start All until no item runs any more.
double RunQueue(const std::vector<std::string>& urls, const QString& folder, std::string& failure) {
    DownloadQueue queue;
    queue.SetAutoSave(false);
    queue.Folder() = DownloadFolder(folder.toStdString());
    std::string lines;
    for (const std::string& url : urls) {
        lines += url + "\n";
    }
    queue.AddUrls(lines);

    QEventLoop loop;
    Clock::time_point end;
    // The queue stops running only after the row's refresh that announced the last finish.
    const auto endWhenStopped = [&] {
        if (!queue.Running()) {
            end = Clock::now();
            loop.quit();
        }
    };
    // Checked once per finished item, not on every refresh, to cost the queue next to nothing.
    QObject::connect(&queue, &QAbstractItemModel::dataChanged, &loop,
                     [&](const QModelIndex& changed) {
                         const DownloadState state = queue.Item(changed.row()).state;
                         if (state == DownloadState::Done || state == DownloadState::Error) {
                             QMetaObject::invokeMethod(&loop, endWhenStopped, Qt::QueuedConnection);
                         }
                     });
    QTimer::singleShot(QueueTimeout, &loop, [&] {
        failure = "the queue still ran after the time-out";
        end = Clock::now();
        loop.quit();
    });
    const Clock::time_point start = Clock::now();
    queue.OnStartAll();
    if (queue.Running()) {
        loop.exec();
    } else {
        end = Clock::now();
    }
    for (int row = 0; row < queue.Count() && failure.empty(); ++row) {
        if (queue.Item(row).state != DownloadState::Done) {
            failure = queue.Item(row).url + " ended " + StateText(queue.Item(row).state) + " (" +
                      queue.StatusText(row) + ")";
        }
    }
    return std::chrono::duration<double>(end - start).count();
}

enum class Client { Dartflux, Curl, Wget };
constexpr std::array Clients = {Client::Dartflux, Client::Curl, Client::Wget};
constexpr std::size_t QueueIndex = 0;
constexpr std::size_t CurlIndex = 1;

const char* ClientName(Client client) {
    switch (client) {
    case Client::Dartflux:
        return "dartflux";
    case Client::Curl:
        return "curl";
    case Client::Wget:
        return "wget";
    }
    return "";
}

struct Work {
    std::string label;
    std::string origin; // scheme, host and port
    int files = 0;
    bool tls = false;
};

struct Figures {
    std::vector<double> seconds;
    int connections = 0;
    int fullHandshakes = 0;
    int requests = 0;
    std::string failure;

    double MedianSeconds() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t middle = sorted.size() / 2;
        return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }
};

class ClientRunner {
public:
    ClientRunner(AccessLog& log, QString workFolder, std::string certificate)
        : log_(log), workFolder_(std::move(workFolder)), certificate_(std::move(certificate)) {}

    void RunOnce(Client client, const Work& work, Figures& figures) {
        std::vector<std::string> urls;
        for (int file = 0; file < work.files; ++file) {
            urls.push_back(work.origin + "/" + FileName(file));
        }
        QTemporaryDir downloads;
        std::string failure;
        double seconds = 0;
        switch (client) {
        case Client::Dartflux:
            seconds = RunQueue(urls, downloads.path(), failure);
            break;
        case Client::Curl:
            seconds = RunProgram(CurlCommand(work, urls, downloads.path()), failure);
            break;
        case Client::Wget:
            seconds = RunProgram(WgetCommand(work, urls, downloads.path()), failure);
            break;
        }
        const LogCounts counts = log_.TakeRun(work.files);
        if (failure.empty()) {
            failure = CheckFiles(downloads.path(), work.files);
        }
        if (failure.empty() && counts.failedRequests > 0) {
            failure = std::to_string(counts.failedRequests) + " requests did not get 200";
        }
        figures.seconds.push_back(seconds);
        figures.connections = std::max(figures.connections, counts.connections);
        figures.fullHandshakes = std::max(figures.fullHandshakes, counts.fullHandshakes);
        figures.requests = std::max(figures.requests, counts.requests);
        if (figures.failure.empty()) {
            figures.failure = failure;
        }
    }

private:
    std::vector<std::string> CurlCommand(const Work& work, const std::vector<std::string>& urls,
                                         const QString& folder) const {
        std::vector<std::string> command = {"curl", "-s", "--remote-name-all", "--output-dir",
                                            folder.toStdString()};
        if (work.tls) {
            command.insert(command.end(), {"--cacert", certificate_});
        }
        command.insert(command.end(), urls.begin(), urls.end());
        return command;
    }

    std::vector<std::string> WgetCommand(const Work& work, const std::vector<std::string>& urls,
                                         const QString& folder) const {
        const std::string listPath = QDir(workFolder_).filePath("urls.txt").toStdString();
        std::ofstream list(listPath, std::ios::trunc);
        for (const std::string& url : urls) {
            list << url << '\n';
        }
        std::vector<std::string> command = {"wget", "-q",    "-P", folder.toStdString(),
                                            "-i",   listPath};
        if (work.tls) {
            command.push_back("--ca-certificate=" + certificate_);
        }
        return command;
    }

    AccessLog& log_;
    QString workFolder_;
    std::string certificate_;
};

void PrintRow(const Work& work, const std::array<Figures, Clients.size()>& figures) {
    const double curlSeconds = figures[CurlIndex].MedianSeconds();
    for (std::size_t client = 0; client < Clients.size(); ++client) {
        const Figures& each = figures[client];
        const std::string handshakes = work.tls ? std::to_string(each.fullHandshakes) : "-";
        std::printf("%-34s  %-8s  %7.3f  %11d  %10s  %8d  %7.2f%s%s\n",
                    client == QueueIndex ? work.label.c_str() : "", ClientName(Clients[client]),
                    each.MedianSeconds(), each.connections, handshakes.c_str(), each.requests,
                    each.MedianSeconds() / curlSeconds,
                    each.failure.empty() ? "" : "  FAILED: ", each.failure.c_str());
    }
    std::fflush(stdout);
}

std::string Verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char* argv[]) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const TemporaryHome home;
    if (!home.IsValid()) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir served;
    QTemporaryDir work;
    const std::string certificate = work.filePath("server.crt").toStdString();
    const std::string key = work.filePath("server.key").toStdString();
    if (!WriteServedFiles(served.path()) || !TestHttpServer::MakeCertificate(certificate, key)) {
        std::fprintf(stderr, "could not write the served files or the certificate\n");
        return 2;
    }
    // The transfer layer's trust store.
    setenv("SSL_CERT_FILE", certificate.c_str(), 1);

    const std::string logPath = work.filePath("access.log").toStdString();
    const int tlsPort = FreeLoopbackPort();
    // TLS 1.3 as on today's servers (this nginx offers only up to 1.2 by default).
    NginxServer nginx(served.path().toStdString(), "",
                      "listen 127.0.0.1:" + std::to_string(tlsPort) + " ssl;\n    " +
                          "ssl_certificate " + certificate + ";\n    ssl_certificate_key " + key +
                          ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n    access_log " + logPath +
                          " connections;",
                      LogFormat);
    LatencyProxy proxy(tlsPort, ProxyRoundTrip);
    AccessLog log(logPath);
    ClientRunner runner(log, work.path(), certificate);

    const std::vector<Work> works = {
        {"300 files, http, loopback", "http://127.0.0.1:" + std::to_string(nginx.port()), MostFiles,
         false},
        {"300 files, https, loopback", "https://127.0.0.1:" + std::to_string(tlsPort), MostFiles,
         true},
        {"50 files, https, 40 ms round trip", "https://127.0.0.1:" + std::to_string(proxy.port()),
         50, true},
    };

    // nginx opens and caches the files once, before anything is measured.
    {
        Figures warming;
        runner.RunOnce(Client::Curl, works[0], warming);
        if (!warming.failure.empty()) {
            std::fprintf(stderr, "warming download failed: %s\n", warming.failure.c_str());
            return 1;
        }
    }

    std::printf("files of %d bytes from nginx on 127.0.0.1 (https: TLS 1.3, ECDSA P-256 "
                "certificate), %d round%s\n\n",
                FileSize, rounds, rounds == 1 ? "" : "s");
    std::printf("%-34s  %-8s  %7s  %11s  %10s  %8s  %7s\n", "work", "client", "seconds",
                "connections", "handshakes", "requests", "vs curl");
    bool failed = false;
    bool fastEnough = true;
    bool oneConnection = true;
    bool oneHandshake = true;
    std::string ratios;
    std::string queueConnections;
    std::string queueHandshakes;
    for (const Work& each : works) {
        std::array<Figures, Clients.size()> figures;
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t client = 0; client < Clients.size(); ++client) {
                runner.RunOnce(Clients[client], each, figures[client]);
            }
        }
        PrintRow(each, figures);
        const Figures& queue = figures[QueueIndex];
        const double ratio = queue.MedianSeconds() / figures[CurlIndex].MedianSeconds();
        fastEnough = fastEnough && ratio <= TargetRatio;
        oneConnection = oneConnection && queue.connections == 1;
        ratios += (ratios.empty() ? "" : ", ") + QString::number(ratio, 'f', 2).toStdString();
        queueConnections +=
            (queueConnections.empty() ? "" : ", ") + std::to_string(queue.connections);
        if (each.tls) {
            oneHandshake = oneHandshake && queue.fullHandshakes == 1;
            queueHandshakes +=
                (queueHandshakes.empty() ? "" : ", ") + std::to_string(queue.fullHandshakes);
        }
        for (const Figures& client : figures) {
            failed = failed || !client.failure.empty();
        }
    }

    std::printf("\ntargets (shown, not asserted):\n");
    std::printf("  dartflux at most %.2f times curl's time in every row: %s (%s)\n", TargetRatio,
                Verdict(fastEnough).c_str(), ratios.c_str());
    std::printf("  one TCP connection per host for the queue: %s (%s)\n",
                Verdict(oneConnection).c_str(), queueConnections.c_str());
    std::printf("  one full TLS handshake per host for the queue: %s (%s)\n",
                Verdict(oneHandshake).c_str(), queueHandshakes.c_str());
    return failed ? 1 : 0;
}
