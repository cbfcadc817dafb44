#include "ContentDisposition.h"
#include "FailureRules.h"
#include "FileNames.h"
#include "RequestRules.h"
#include "ResponseRules.h"
#include "UrlParts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

namespace {

using Text = std::optional<std::string>;

TEST(SplitUrlTest, HostEndsAtTheFirstSlashQuestionMarkOrHash) {
    const std::pair<std::string, std::string> cases[] = {
        {"server/files/a.zip", "|server|/files/a.zip|"},
        {"http://server/dl?id=3#top", "http|server|/dl|?id=3#top"},
        {"http://h#frag/b.bin", "http|h|/|#frag/b.bin"},
        {"server?to=http://other/x", "|server|/|?to=http://other/x"},
        {"http://user:pw@server:81/a", "http|user:pw@server:81|/a|"},
        {"http:/x/y", "|http:|/x/y|"},
        {"", "|||"},
        {"HTTPS://server/a b/%20c.txt", "HTTPS|server|/a b/%20c.txt|"},
    };
    for (const auto& [url, split] : cases) {
        const UrlParts parts = SplitUrl(url);
        EXPECT_EQ(parts.scheme + "|" + parts.host + "|" + parts.path + "|" + parts.suffix,
                  split == "|||" ? "||/|" : split);
    }
    EXPECT_EQ(WithoutPassword("http://a:b:c@h:81/x") + " " + WithoutPassword("a:pw@h/x") + " " +
                  WithoutPassword("http://a@h/x:y@z") + " " + WithoutPassword("http://h:81/@:"),
              "http://a@h:81/x a@h/x http://a@h/x:y@z http://h:81/@:");
}

TEST(TransferRulesTest, RequestTargetAndTheUrlsFileName) {
    const struct {
        std::string objectPath, target, name;
    } cases[] = {
        {"/dir/my file.bin?x=1#part", "/dir/my%20file.bin?x=1", "my file.bin"},
        {"/my%20report.pdf", "/my%20report.pdf", "my report.pdf"},
        {"/bad%FF.bin", "/bad%FF.bin", "bad%FF.bin"},
        {"/files/get.php?id=5", "/files/get.php?id=5", "get.php"},
        {"/#frag/b.bin", "/", ""},
        {"/\"<x>\"", "/%22%3Cx%3E%22", "\"<x>\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RequestTarget(c.objectPath) + " " + FileNameFromUrl(c.objectPath),
                  c.target + " " + c.name);
    }
}

TEST(TransferRulesTest, SizesAndRangesOutsideSixtyFourBitsCountAsMissing) {
    EXPECT_EQ(ParseSize(" 9223372036854775807 "), 9223372036854775807);
    for (const char* bad : {"9223372036854775808", "-1", "+5", "12abc", "", "0x10"}) {
        EXPECT_EQ(ParseSize(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(ParseContentRange("BYTES  0-9/*")->complete, std::nullopt);
    for (const char* bad : {"bytes 5-4/10", "bytes 0-9/9", "items 0-9/10", "bytes 0-9",
                            "bytes -9/10", "bytes 0-99999999999999999999/*", "bytes */10"}) {
        EXPECT_EQ(ParseContentRange(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(UnsatisfiedRangeTotal("bytes */1000"), 1000);
}

TEST(TransferRulesTest, ABodyIsAppendedOnlyWhenItIsExactlyTheRestOfTheKnownFile) {
    const struct {
        long status;
        Text range, length;
        std::int64_t offset, known;
        BodyUse use;
        std::int64_t total;
    } cases[] = {
        {206, "bytes 400-999/1000", "600", 400, 1000, BodyUse::Append, 1000},
        {206, "bytes 400-1999/2000", "1600", 400, 1000, BodyUse::RequestAgain, 0},
        {206, "bytes 400-499/1000", "100", 400, 1000, BodyUse::RequestAgain, 0},
        {206, "bytes 300-999/1000", "700", 400, 1000, BodyUse::RequestAgain, 0},
        {206, "bytes 0-1999/2000", "2000", 400, 1000, BodyUse::FromStart, 2000},
        {206, std::nullopt, "1000", 400, 1000, BodyUse::RequestAgain, 0},
        {200, std::nullopt, "1000", 400, 1000, BodyUse::FromStart, 1000},
        {200, std::nullopt, std::nullopt, 0, 0, BodyUse::FromStart, 0},
        {200, std::nullopt, "9223372036854775808", 0, 0, BodyUse::Invalid, 0},
    };
    for (const auto& c : cases) {
        const BodyPlan plan = PlanBody(c.status, c.range, c.length, c.offset, c.known);
        EXPECT_TRUE(plan.use == c.use && plan.total == c.total) << c.range.value_or("-");
    }
}

TEST(TransferRulesTest, FailuresThatMayHealAreRetriedAfterTheirDelay) {
    using enum ErrorSource;
    const struct {
        int code;
        std::uint32_t error;
        ErrorSource source;
        bool transient;
    } failures[] = {
        {4, CURLE_COULDNT_CONNECT, Curl, true},
        {4, CURLE_PEER_FAILED_VERIFICATION, Curl, false},
        {5, CURLE_UNSUPPORTED_PROTOCOL, Curl, false},
        {8, 503, HttpStatus, true},
        {8, 404, HttpStatus, false},
        {9, CURLE_OPERATION_TIMEDOUT, Curl, true},
        {9, ENOSPC, FileWrite, false}, // errno 28 is CURLE_OPERATION_TIMEDOUT's number too
    };
    for (const auto& f : failures) {
        EXPECT_EQ(IsTransientFailure({{f.code, f.error}, f.source}), f.transient) << f.error;
    }
    using std::chrono::seconds;
    EXPECT_EQ(RetryDelay(1, seconds(2), std::nullopt), seconds(2));
    EXPECT_EQ(RetryDelay(5, seconds(2), std::nullopt), seconds(32));
    EXPECT_EQ(RetryDelay(5, seconds(2), seconds(7)), seconds(7));
    EXPECT_EQ(RetryDelay(1, seconds(2), seconds(900)), seconds(300));
    const std::time_t date = 1445412480; // Wed, 21 Oct 2015 07:28:00 GMT
    const std::pair<const char*, std::optional<seconds>> waits[] = {
        {" 120 ", seconds(120)},
        {"99999", seconds(300)},
        {"soon", std::nullopt},
        {"Wed, 21 Oct 2015 07:28:00 GMT", seconds(30)},
    };
    for (const auto& [value, wait] : waits) {
        EXPECT_EQ(ParseRetryAfter(value, date - 30), wait) << value;
    }
}

TEST(FileNamesTest, NamesShowWhatIsOnDiskAndTheServersPrefersFilenameStar) {
    std::string safe;
    for (const char* given :
         {"../../x", "evil\u202Etxt.exe", "\u200B\uFEFFa\u2066b\u2069\u200E.txt", " . ",
          "  .hidden . ", "line\nbreak", " spaced name .txt", "ab\xE2\x80\u200B\xAEtxt.exe",
          "\xEF\xBB\u200B\xBFz", "a\xC2\x9B", "caf\xE9", "\xC0\xAE", "\xED\xA0\x80", "\x80\x80",
          "a\u061C\u2028\u2029\u200C\u200D\u2060\u2061\u2062\u2063\u2064\u00AD.b"}) {
        safe += SafeFileName(given) + "|";
    }
    EXPECT_EQ(safe, "x|eviltxt.exe|ab.txt||hidden||spaced name .txt||||||||a.b|");
    std::string named;
    for (const char* header :
         {"attachment; filename=report.pdf; size=10", "attachment; filename=\"my; odd name .pdf\"",
          "attachment; filename=\"unclosed.txt", "attachment; FILENAME=upper.txt",
          "attachment; filename*=UTF-8''%C3%A9t%C3%A9%20x.txt",
          "attachment; filename=\"plain.txt\"; filename*=UTF-8''better.txt",
          "attachment; filename*=KOI8-R''x.txt; filename=fallback.txt"}) {
        named += FileNameFromContentDisposition(header).value_or("-") + "|";
    }
    EXPECT_EQ(named,
              "report.pdf|my; odd name .pdf|-|-|\xC3\xA9t\xC3\xA9 x.txt|better.txt|fallback.txt|");
}

TEST(FileNamesTest, NumberedAndLongNamesKeepTheExtensionAndWholeCharacters) {
    const struct {
        std::string name;
        int attempt;
        std::size_t limit;
        std::string result;
    } cases[] = {
        {"report.pdf", 1, 255, "report (1).pdf"},
        {"archive.tar.gz", 2, 255, "archive.tar (2).gz"},
        {".bashrc", 1, 255, ".bashrc (1)"},
        {"abcdefghij.txt", 0, 10, "abcdef.txt"},
        {"abcdefghij.txt", 1, 10, "ab (1).txt"},
        {"\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80.txt", 0, 9, "\xE4\xB8\x80.txt"},
        {"\xF0\x9F\x98\x80.a\xC3\xA9z", 0, 7, "\xF0\x9F\x98\x80.a"},
        {"\x80\x80\x80\x80", 0, 2, "\x80\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NumberedFileName(c.name, c.attempt, c.limit), c.result) << c.name;
    }
}

} // namespace
