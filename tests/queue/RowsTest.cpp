// What a row shows: its texts and colours from the model, and the rows URL entry makes.
#include "DownloadListRoles.h"
#include "ListMenu.h"
#include "QueueTestSupport.h"
#include "RowText.h"
#include "StatusText.h"

#include <QSignalSpy>

#include <curl/curl.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

using RowsTest = ScriptedQueueTest;

TEST(RowTextTest, SizesInKilobytesGroupedByPowersOfAThousand) {
    std::string texts;
    for (const std::int64_t bytes : {0LL, 1023LL, 1024LL, 1023999LL, 1024000LL, -2048LL,
                                     1024LL * 1002003, 1000000000000000LL}) {
        texts += SizeText(bytes) + " ";
    }
    EXPECT_EQ(texts, "0 0 1 999 1.000 -2 1.002.003 976.562.500.000 ");
}

TEST(StatusTextTest, FailuresAreToldInPlainWords) {
    using enum ErrorSource;
    const std::string url = "https://files.example:8443/a.iso";
    const std::vector<std::pair<TransferFailure, std::string>> failures = {
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
        {{{9, CURLE_OPERATION_TIMEDOUT}, Curl}, "No data for 60 s"},
        {{{9, ENOSPC}, FileWrite}, "The disk is full"},
        {{{9, EXDEV}, FileMove},
         "The finished file could not be moved to its name: Invalid cross-device link"},
        {{{2, CURLE_FAILED_INIT}, Curl}, "The download failed: Failed initialization"},
        {{{5, CURLE_UNSUPPORTED_PROTOCOL}, Curl, 0, "ftp://u:pw@files.example/a.iso"},
         "The server sent the download to ftp://u@files.example/a.iso, which is not supported"},
        {{{8, CURLE_OUT_OF_MEMORY}, Curl}, "The server's answer was too large"},
        {{{8, CURLE_WEIRD_SERVER_REPLY}, Curl}, "The server's answer could not be understood"},
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
    TransferActivity running{412300000, 1200000000, 2100000, 0, 0, 0, std::nullopt, 1, 1000000};
    TransferActivity split{412300000, 1200000000, 2100000, 0, 0, 0, std::nullopt, 4};
    TransferActivity huge{0, INT64_MAX, 1000000000000, 0, 0, 0, std::nullopt};
    TransferActivity retrying{0, 0, 0, 2, 5, 8, TransferFailure{{8, 503}, ErrorSource::HttpStatus}};
    const auto ended = [](TransferOutcome outcome, TransferFailure failure, std::string path) {
        return ItemRun{std::nullopt, TransferEnd{outcome, failure, std::move(path), 5000}};
    };
    const struct {
        DownloadState state;
        ItemRun run;
        std::string text;
    } cases[] = {
        {DownloadState::Progress,
         {running, {}},
         "a.iso\n412.3 MB of 1.2 GB, 2.1 MB/s, limited to 1 MB/s, 6 min 16 s left"},
        {DownloadState::Progress,
         {split, {}},
         "a.iso\n412.3 MB of 1.2 GB, 2.1 MB/s, 4 connections, 6 min 16 s left"},
        {DownloadState::Progress, {huge, {}}, "a.iso\n0 B of 9.2 EB, 1.0 TB/s, 2562 h 2 min left"},
        {DownloadState::Progress,
         {retrying, {}},
         "a.iso\nRetry 2 of 5 in 8 s: The server answered 503 Service Unavailable"},
        {DownloadState::Progress, {}, "a.iso\nNot running: Pause, then Start resumes it"},
        {DownloadState::Error, {}, "a.iso\nThe download failed"},
        {DownloadState::Error,
         ended(TransferOutcome::Failed, {{8, 404}, ErrorSource::HttpStatus}, ""),
         "a.iso\nThe server answered 404 Not Found"},
        {DownloadState::Pause, ended(TransferOutcome::Paused, {}, ""),
         "a.iso\nPaused with 5.0 kB of 1.2 GB kept"},
        {DownloadState::Done, ended(TransferOutcome::Completed, {}, "/dl/a (1).iso"),
         "a.iso\nSaved as /dl/a (1).iso"},
        {DownloadState::Ready, {}, "a.iso\nhttp://h/a.iso"},
    };
    for (const auto& c : cases) {
        item.state = c.state;
        EXPECT_EQ(StatusText(item, &c.run), c.text);
    }
    item.url = item.fileName = "http://alice:S3cret@h/a.iso";
    item.state = DownloadState::Ready;
    EXPECT_EQ(StatusText(item, nullptr) + "|" + RowText(item, FileNameColumn),
              "http://alice@h/a.iso|http://alice@h/a.iso");
    EXPECT_EQ(ByteText(999) + "|" + ByteText(999949) + "|" + ByteText(999950) + "|" +
                  TimeLeftText(45) + "|" + TimeLeftText(7500),
              "999 B|999.9 kB|1.0 MB|45 s left|2 h 5 min left");
}

// Each state's text; an Error row in its colours, a Ready row in the list's own.
TEST_F(RowsTest, EveryStateShowsItsTextAndColours) {
    Add("WRQPDESU");
    std::string shown;
    for (int row = 0; row < 8; ++row) {
        shown += queue.data(queue.index(row, StatusColumn)).toString().toStdString() + "|";
    }
    EXPECT_EQ(shown, "Waiting|Ready|Queue|Progress|Done|Error|Pause||");
    const auto colour = [this](int row, int role) {
        return queue.data(queue.index(row, SizeColumn), role).value<QColor>();
    };
    EXPECT_EQ(colour(5, Qt::ForegroundRole), QColor(202, 40, 76));
    EXPECT_EQ(colour(5, Qt::BackgroundRole), QColor(238, 184, 196));
    EXPECT_FALSE(colour(1, Qt::BackgroundRole).isValid());
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
        rows += queue.Item(row).ToRecord() + "\n";
    }
    EXPECT_EQ(rows, "14:http://x/first;0:;14:http://x/first;0;0;0;1;\n"
                    "10:http://x/a;0:;10:http://x/a;0;0;0;1;\n"
                    "10:http://x/b;0:;10:http://x/b;0;0;0;1;\n"
                    "11:http://x/az;0:;11:http://x/az;0;0;0;1;\n");
}

TEST_F(RowsTest, TheListMenuOffersWhatAppliesToTheSelection) {
    Add("WRPDES");
    const auto menu = [this](const std::vector<int>& rows, bool overRow, std::string offered) {
        std::string entries;
        for (const ListMenuEntry& entry : ListMenuEntries(queue, rows, overRow, offered)) {
            entries += std::string(entry.text) + (entry.enabled ? "+ " : "- ");
        }
        return entries;
    };
    EXPECT_EQ(menu({3}, true, ""), "Open+ Show in folder+ Copy address+ Start- Pause- Remove+ ");
    EXPECT_EQ(menu({3, 4}, true, ""), "Open- Show in folder- Copy address+ Start+ Pause- Remove+ ");
    EXPECT_EQ(menu({2}, true, ""), "Open- Show in folder- Copy address+ Start- Pause+ Remove- ");
    EXPECT_EQ(menu({}, true, ""), "Open- Show in folder- Copy address- Start- Pause- Remove- ");
    EXPECT_EQ(menu({1}, false, "see http://x/1"), "Paste- Add URL...+ ");
    EXPECT_EQ(menu({1}, false, "http://x/1"), "Paste+ Add URL...+ ");
    EXPECT_EQ(DoubleClickAction(queue.Item(3)), ListAction::Open);
    EXPECT_EQ(DoubleClickAction(queue.Item(4)), ListAction::Start);
    queue.AddUrls("https://alice:S3cret@h/a");
    EXPECT_EQ(CopiedAddresses(queue, {0, 6}), "http://h/0\nhttps://alice@h/a");
}

} // namespace
