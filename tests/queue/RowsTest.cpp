// What a row shows: its texts and colours from the model, and the rows URL entry makes.
#include "DownloadListRoles.h"
#include "QueueTestSupport.h"
#include "RowText.h"
#include "StatusText.h"

#include <QSignalSpy>

#include <curl/curl.h>

#include <cerrno>

namespace {

using RowsTest = ScriptedQueueTest;

TEST(RowTextTest, SizesInKilobytesGroupedByPowersOfAThousand) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {1023, "0"},
        {1024, "1"},
        {1023999, "999"},
        {1024000, "1.000"},
        {1048576, "1.024"},
        {-2048, "-2"},
        {1024000000, "1.000.000"},
        {4294967296, "4.194.304"},
        {1024 * 1002003LL, "1.002.003"},
        {1000000000000000, "976.562.500.000"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(SizeText(bytes), text) << bytes;
    }
}

TEST(StatusTextTest, FailuresAreToldInPlainWords) {
    using enum ErrorSource;
    const std::string url = "https://files.example:8443/a.iso";
    const struct {
        TransferFailure failure;
        std::string text;
    } failures[] = {
        {{{8, 404}, HttpStatus}, "The server answered 404 Not Found"},
        {{{8, 599}, HttpStatus}, "The server answered 599"},
        {{{4, CURLE_COULDNT_CONNECT}, Curl, ECONNREFUSED},
         "Could not connect to files.example:8443: connection refused"},
        {{{4, CURLE_COULDNT_RESOLVE_HOST}, Curl}, "Could not find the server files.example"},
        {{{4, CURLE_OPERATION_TIMEDOUT}, Curl},
         "Could not connect to files.example:8443 within 30 s"},
        {{{4, CURLE_PEER_FAILED_VERIFICATION}, Curl},
         "The certificate of files.example could not be verified"},
        {{{5, CURLE_UNSUPPORTED_PROTOCOL}, Curl}, "Unsupported address: " + url},
        {{{6, CURLE_SEND_ERROR}, Curl},
         "The connection to files.example:8443 broke off while sending the request"},
        {{{8, CURLE_GOT_NOTHING}, Curl}, "The server closed the connection without an answer"},
        {{{9, CURLE_OPERATION_TIMEDOUT}, Curl}, "No data for 60 s"},
        {{{9, CURLE_PARTIAL_FILE}, Curl}, "The connection broke off before the end of the file"},
        {{{9, ENOSPC}, FileWrite}, "The disk is full"},
        {{{9, EACCES}, FileWrite}, "The folder can not be written to"},
        {{{9, EXDEV}, FileMove},
         "The finished file could not be moved to its name: Invalid cross-device link"},
        {{{2, CURLE_FAILED_INIT}, Curl}, "The download failed: Failed initialization"},
    };
    for (const auto& [failure, text] : failures) {
        EXPECT_EQ(FailureText(failure, url), text);
    }
    EXPECT_EQ(FailureText({{4, CURLE_COULDNT_CONNECT}, Curl}, "h/x"), "Could not connect to h:80");
}

TEST(StatusTextTest, EachStateSaysWhatIsHappening) {
    DownloadItem item;
    item.url = "http://h/a.iso";
    item.fileName = "a.iso";
    item.tempPath = "/dl/x.tmp";
    item.totalSize = 1200000000;
    TransferActivity running{412300000, 1200000000, 2100000, 0, 0, 0, std::nullopt};
    TransferActivity retrying{0, 0, 0, 2, 5, 8, TransferFailure{{8, 503}, ErrorSource::HttpStatus}};
    const struct {
        DownloadState state;
        const TransferActivity* activity;
        std::string text;
    } cases[] = {
        {DownloadState::Progress, &running, "a.iso\n412.3 MB of 1.2 GB, 2.1 MB/s, 6 min 16 s left"},
        {DownloadState::Progress, &retrying,
         "a.iso\nRetry 2 of 5 in 8 s: The server answered 503 Service Unavailable"},
        {DownloadState::Progress, nullptr, "a.iso\nStarting"},
        {DownloadState::Error, &retrying, "a.iso\nThe server answered 503 Service Unavailable"},
        {DownloadState::Error, nullptr, "a.iso\nThe download failed"},
        {DownloadState::Done, nullptr, "a.iso\nSaved as /dl/a.iso"},
        {DownloadState::Pause, nullptr, "a.iso\nPaused with 5.0 kB of 1.2 GB kept"},
        {DownloadState::Ready, nullptr, "a.iso\nhttp://h/a.iso"},
    };
    for (const auto& c : cases) {
        item.state = c.state;
        EXPECT_EQ(StatusText(item, c.activity, 5000), c.text);
    }
    const std::pair<std::int64_t, const char*> sizes[] = {
        {999, "999 B"}, {1500, "1.5 kB"}, {999949, "999.9 kB"}, {999950, "1.0 MB"}};
    for (const auto& [bytes, text] : sizes) {
        EXPECT_EQ(ByteText(bytes), text);
    }
    EXPECT_EQ(TimeLeftText(45), "45 s left");
    EXPECT_EQ(TimeLeftText(7500), "2 h 5 min left");
}

TEST_F(RowsTest, EveryStateShowsItsTextAndColours) {
    Add("WRQPDESU");
    const struct {
        const char* status;
        QColor text, background; // invalid: the list's own colours
    } rows[] = {
        {"Waiting", QColor(44, 79, 229), QColor(185, 197, 247)},
        {"Ready", QColor(), QColor()},
        {"Queue", QColor(), QColor()},
        {"Progress", QColor(38, 138, 22), QColor(183, 216, 178)},
        {"Done", QColor(180, 180, 180), QColor(230, 230, 230)},
        {"Error", QColor(202, 40, 76), QColor(238, 184, 196)},
        {"Pause", QColor(220, 118, 19), QColor(244, 210, 177)},
        {"", QColor(), QColor()},
    };
    for (int row = 0; row < 8; ++row) {
        const auto data = [&](int column, int role) {
            return queue.data(queue.index(row, column), role);
        };
        EXPECT_EQ(data(StatusColumn, Qt::DisplayRole).toString(), rows[row].status);
        EXPECT_EQ(data(SizeColumn, Qt::ForegroundRole).value<QColor>(), rows[row].text) << row;
        EXPECT_EQ(data(FileNameColumn, Qt::BackgroundRole).value<QColor>(), rows[row].background);
    }
    EXPECT_EQ(queue.headerData(2, Qt::Horizontal).toString(), "Size, Kb");
}

TEST_F(RowsTest, UrlLinesBecomeReadyRowsToSelectThatSurviveTheListFile) {
    queue.AddUrls("http://x/first");
    QSignalSpy toSelect(&queue, &DownloadQueue::rowsToSelect);
    // Blanks around a line and control characters anywhere would not survive the list file.
    const char lines[] = " http://x/a \r\n\r\nhttp://x/\tb\n http://x/a\0z ";
    EXPECT_EQ(queue.AddUrls(std::string(lines, sizeof lines - 1)), 3);
    EXPECT_EQ(queue.AddUrls(" \t \r\n"), 0);
    ASSERT_EQ(toSelect.count(), 1);
    EXPECT_EQ(toSelect[0][0].toInt(), 1);
    EXPECT_EQ(toSelect[0][1].toInt(), 3);
    std::string rows;
    for (int row = 0; row < queue.Count(); ++row) {
        for (int column = 0; column < 4; ++column) {
            rows += queue.data(queue.index(row, column)).toString().toStdString() + "|";
        }
        rows += queue.Item(row).url + "\n";
    }
    EXPECT_EQ(rows, "http://x/first|0%|0|Ready|http://x/first\n"
                    "http://x/a|0%|0|Ready|http://x/a\n"
                    "http://x/b|0%|0|Ready|http://x/b\n"
                    "http://x/az|0%|0|Ready|http://x/az\n");
}

} // namespace
