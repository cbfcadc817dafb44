// The whole program as a user meets it: URLs typed into the main window, downloads run one at a
// time against a real nginx, a scripted HTTP server and a TLS server on loopback, and the list
// file that survives the window.
#include "CDownloaderDlg.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "NginxServer.h"
#include "QStringPrinter.h"
#include "RowText.h"
#include "Settings.h"
#include "StallingRoute.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using Id = CDownloaderDlg::CommandId;

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

std::string Text(const QByteArray& bytes) {
    return bytes.toStdString();
}

std::string Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "<unreadable " + path.toStdString() + ">";
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex().toStdString();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A self-signed certificate for 127.0.0.1 made by the openssl command; "" or what went wrong.
std::string MakeTestCertificate(const QString& certificatePath, const QString& keyPath) {
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", keyPath, "-out", certificatePath});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        return "openssl made no test certificate: " + openssl.errorString().toStdString() + "\n" +
               openssl.readAllStandardError().toStdString();
    }
    return "";
}

bool IsFinalState(const QString& state) {
    return state == "Done" || state == "Error" || state == "Pause";
}

// One typed URL and what its row and the folder must show at the end.
struct Download {
    QString url;
    QString state;
    QString name;
    QString progress;
    QString size;
    // The bytes the file must hold (Done) or the temporary file (Error, Pause).
    QByteArray content;
};

class AcceptanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultListPath()));
        // Deep enough that "../../evil.sh" would still land inside the temporary folder.
        ASSERT_TRUE(QDir(root.path()).mkpath("served") && QDir(root.path()).mkpath("user/files"));
        WriteSetting(0, Folder().toStdString());

        const QString certificate = root.filePath("cert.pem");
        const QString key = root.filePath("key.pem");
        ASSERT_EQ(MakeTestCertificate(certificate, key), "");
        previousCertFile = qgetenv("SSL_CERT_FILE");
        hadCertFile = qEnvironmentVariableIsSet("SSL_CERT_FILE");
        // The worker hands SSL_CERT_FILE to libcurl as its CA file.
        qputenv("SSL_CERT_FILE", certificate.toLocal8Bit());
        tls = std::make_unique<TestHttpServer>(certificate.toStdString(), key.toStdString());
        nginx = std::make_unique<NginxServer>(root.filePath("served").toStdString());
    }

    void TearDown() override {
        stall.reset();
        server.Stop();
        tls.reset();
        if (hadCertFile) {
            qputenv("SSL_CERT_FILE", previousCertFile);
        } else {
            qunsetenv("SSL_CERT_FILE");
        }
    }

    QString Folder() const { return root.filePath("user/files"); }

    // A file nginx serves, under its path.
    Download Served(const QString& path, const QByteArray& content) {
        EXPECT_TRUE(WriteFile(root.filePath("served" + path), content));
        const QString name = QFileInfo(path).fileName();
        return {Url(*nginx, path), "Done", name, "100%", SizeOf(content), content};
    }

    // A route of the scripted server that answers with a Content-Disposition header.
    Download Disposition(const std::string& path, const std::string& header, const QString& name,
                         const QByteArray& content) {
        server.server().Get(
            path, [header, body = Text(content)](const httplib::Request&, httplib::Response& res) {
                res.set_header("Content-Disposition", header);
                res.set_content(body, "application/octet-stream");
            });
        return {Url(server, path), "Done", name, "100%", SizeOf(content), content};
    }

    static QString Url(const NginxServer& host, const QString& path) {
        return QString::fromStdString(host.Url(path.toStdString()));
    }
    static QString Url(const TestHttpServer& host, const std::string& path) {
        return QString::fromStdString(host.Url(path));
    }
    static QString SizeOf(const QByteArray& content) {
        return QString::fromStdString(SizeText(content.size()));
    }

    // About twenty downloads of every outcome, in the order they run; the servers are ready to
    // answer each one.
    std::vector<Download> PrepareDownloads() {
        std::vector<Download> downloads = {
            Served("/empty.bin", {}),
            Served("/one.bin", "x"),
            Served("/hundred.bin", RandomBytes(100 * 1024, 1)),
            Served("/five.bin", RandomBytes(5 * 1024 * 1024, 2)),
            // Typed with a space, which goes percent-encoded on the wire.
            Served("/odd size.dat", RandomBytes(1234567, 3)),
            Served("/query.bin", RandomBytes(12295, 4)),
        };
        downloads.back().url += "?token=abc";
        const QString missing = Url(*nginx, "/missing.bin");
        downloads.push_back({missing, "Error", missing, "0%", "0", QByteArray()});

        downloads.push_back(Disposition("/cd/report", "attachment; filename=\"report.pdf\"",
                                        "report.pdf", RandomBytes(2048, 5)));
        downloads.push_back(Disposition(
            "/cd/encoded",
            "attachment; filename=\"fallback.txt\"; filename*=UTF-8''na%C3%AFve%20caf%C3%A9.txt",
            "naïve café.txt", "decoded name"));
        downloads.push_back(Disposition("/cd/evil", "attachment; filename=\"../../evil.sh\"",
                                        "evil.sh", "#!/bin/sh\necho harmless\n"));
        downloads.push_back(Disposition("/cd/taken", "attachment; filename=\"taken.txt\"",
                                        "taken (1).txt", "the new download"));
        downloads.push_back(Disposition("/cd/dots/fallback.txt", "attachment; filename=\"..\"",
                                        "fallback.txt", "named after the URL"));

        const QByteArray relocated = RandomBytes(300000, 6);
        EXPECT_TRUE(WriteFile(root.filePath("served/medium.bin"), relocated));
        server.server().Get("/moved/medium.bin",
                            [this](const httplib::Request&, httplib::Response& res) {
                                res.set_redirect(nginx->Url("/medium.bin"), 302);
                            });
        downloads.push_back(
            {Url(server, "/moved/medium.bin"), "Done", "medium.bin", "100%", "292", relocated});

        const QByteArray streamed = RandomBytes(30000, 7);
        server.server().Get(
            "/chunked/stream.bin", [streamed](const httplib::Request&, httplib::Response& res) {
                res.set_chunked_content_provider(
                    "application/octet-stream",
                    [streamed](std::size_t offset, httplib::DataSink& sink) {
                        const auto total = static_cast<std::size_t>(streamed.size());
                        const std::size_t piece = std::min<std::size_t>(10000, total - offset);
                        sink.write(streamed.constData() + offset, piece);
                        if (offset + piece == total) {
                            sink.done();
                        }
                        return true;
                    });
            });
        downloads.push_back(
            {Url(server, "/chunked/stream.bin"), "Done", "stream.bin", "100%", "0", streamed});

        stallRow = static_cast<int>(downloads.size());
        const QByteArray stallStart = RandomBytes(1000, 8);
        stall = std::make_unique<StallingRoute>(server.server(), "/stall/slow.bin", 100000,
                                                Text(stallStart));
        downloads.push_back(
            {Url(server, "/stall/slow.bin"), "Pause", "slow.bin", "1%", "97", stallStart});

        // The connection drops after 20000 of the announced 50000 bytes.
        const QByteArray cutShort = RandomBytes(20000, 9);
        server.server().Get(
            "/dropped/cut.bin", [cutShort](const httplib::Request&, httplib::Response& res) {
                res.set_content_provider(
                    50000, "application/octet-stream",
                    [cutShort](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        return offset == 0 && sink.write(cutShort.constData(), cutShort.size());
                    });
            });
        downloads.push_back(
            {Url(server, "/dropped/cut.bin"), "Error", "cut.bin", "40%", "48", cutShort});

        server.server().Get(
            "/fail/broken.bin", [](const httplib::Request&, httplib::Response& res) {
                res.status = 500;
                res.set_content("an error page that must not become the file", "text/plain");
            });
        downloads.push_back({Url(server, "/fail/broken.bin"), "Error",
                             Url(server, "/fail/broken.bin"), "0%", "0", QByteArray()});

        const QByteArray secure = RandomBytes(128 * 1024, 10);
        tls->server().Get("/secure/tls.bin",
                          [secure](const httplib::Request&, httplib::Response& res) {
                              res.set_content(Text(secure), "application/octet-stream");
                          });
        downloads.push_back(
            {Url(*tls, "/secure/tls.bin"), "Done", "tls.bin", "100%", "128", secure});

        const QString unknownScheme = "ftp://127.0.0.1/pub/file.txt";
        downloads.push_back({unknownScheme, "Error", unknownScheme, "0%", "0", QByteArray()});
        // The same file again: the first copy keeps its name.
        downloads.push_back(
            {Url(*nginx, "/one.bin"), "Done", "one (1).bin", "100%", "0", QByteArray("x")});
        return downloads;
    }

    QTemporaryDir root;
    TestHttpServer server;
    std::unique_ptr<TestHttpServer> tls;
    std::unique_ptr<NginxServer> nginx;
    QByteArray previousCertFile;
    bool hadCertFile = false;
    std::unique_ptr<StallingRoute> stall;
    int stallRow = -1;
};

TEST_F(AcceptanceTest, TypedUrlsEndInTheirStatesFilesAndListFile) {
    const QByteArray takenBefore = "a file the user already had";
    ASSERT_TRUE(WriteFile(QDir(Folder()).filePath("taken.txt"), takenBefore));

    const std::vector<Download> downloads = PrepareDownloads();
    QStringList urls;
    for (const Download& download : downloads) {
        urls.append(download.url);
    }
    const int rowCount = static_cast<int>(downloads.size());

    auto window = std::make_unique<CDownloaderDlg>();
    window->show();
    AddUrls(*window, urls);
    ASSERT_EQ(Column(*window, 0), urls);
    Click(*window, Id::StartAllId);

    // The stalled download is paused from its row while it waits for data; the rest then run.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Cell(*window, stallRow, 3) == "Progress" && Cell(*window, stallRow, 1) == "1%";
        },
        30000));
    Select(*window, {stallRow});
    Click(*window, Id::PauseId);
    EXPECT_EQ(Cell(*window, stallRow, 3), "Pause");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QStringList states = Column(*window, 3);
            return std::all_of(states.begin(), states.end(), IsFinalState) &&
                   !window->Queue().Running();
        },
        60000))
        << Column(*window, 3).join(", ").toStdString();

    QStringList tempFiles;
    QSet<QString> expectedFiles{"taken.txt"};
    ASSERT_EQ(Column(*window, 3).size(), rowCount);
    for (int row = 0; row < rowCount; ++row) {
        const Download& download = downloads[row];
        SCOPED_TRACE(download.url.toStdString());
        EXPECT_EQ(Cell(*window, row, 3), download.state);
        EXPECT_EQ(Cell(*window, row, 0), download.name);
        EXPECT_EQ(Cell(*window, row, 1), download.progress);
        EXPECT_EQ(Cell(*window, row, 2), download.size);
        const QString tempPath = QString::fromStdString(window->Queue().Item(row).tempPath);
        tempFiles.append(tempPath);
        if (download.state == "Done") {
            EXPECT_EQ(FileSha256(QDir(Folder()).filePath(download.name)), Sha256(download.content));
            EXPECT_FALSE(QFile::exists(tempPath)) << tempPath.toStdString();
            expectedFiles.insert(download.name);
        } else {
            // Kept for a resume, holding exactly the body bytes that arrived.
            EXPECT_TRUE(tempPath.endsWith(".tmp")) << tempPath.toStdString();
            EXPECT_EQ(QFileInfo(tempPath).absolutePath(), Folder());
            EXPECT_EQ(FileSha256(tempPath), Sha256(download.content));
            expectedFiles.insert(QFileInfo(tempPath).fileName());
        }
    }
    const QStringList inFolder = QDir(Folder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(QSet<QString>(inFolder.begin(), inFolder.end()), expectedFiles);
    EXPECT_EQ(FileSha256(QDir(Folder()).filePath("taken.txt")), Sha256(takenBefore));
    EXPECT_FALSE(QFile::exists(root.filePath("evil.sh")));
    EXPECT_FALSE(QFile::exists(root.filePath("user/evil.sh")));

    window.reset();
    const DownloadItems saved = LoadListFile();
    ASSERT_EQ(saved.size(), downloads.size());
    for (int row = 0; row < rowCount; ++row) {
        const Download& download = downloads[row];
        const DownloadItem& item = *saved[row];
        SCOPED_TRACE(download.url.toStdString());
        EXPECT_EQ(item.url, download.url.toStdString());
        EXPECT_EQ(StateText(item.state), download.state.toStdString());
        EXPECT_EQ(item.fileName, download.name.toStdString());
        EXPECT_EQ(SizeText(item.totalSize), download.size.toStdString());
        EXPECT_EQ(item.tempPath, tempFiles[row].toStdString());
    }
}

} // namespace
