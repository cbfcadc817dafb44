#include "UrlParts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    std::string url;
    std::string host;
    std::string path;
    std::string suffix;
};

// The documented edge cases of the split, plus a few of their consequences.
const std::vector<SplitCase> Cases = {
    {"server/files/a.zip", "server", "/files/a.zip", ""},
    {"http://server/dl?id=3#top", "server", "/dl", "?id=3#top"},
    {"http://server", "server", "/", ""},
    {"http://server?x=1", "server?x=1", "/", ""},
    {"server/go?to=http://other/x", "server", "/go", "?to=http://other/x"},
    {"http://server:81/a", "server:81", "/a", ""},
    {"http:/x/y", "http:", "/x/y", ""},
    {"http://", "", "/", ""},
    {"", "", "/", ""},
    {"/dir/file.bin?v=2", "", "/dir/file.bin", "?v=2"},
    // Consequences: user information stays in the host, any scheme is skipped, a fragment alone
    // starts the suffix, "?" or "#" before the path stay in the host, nothing is decoded.
    {"http://user:pw@server/a", "user:pw@server", "/a", ""},
    {"ftp://server/a", "server", "/a", ""},
    {"HTTPS://server/a#frag?x", "server", "/a", "#frag?x"},
    {"http://server/a b/%20c.txt", "server", "/a b/%20c.txt", ""},
    {"http://server#x/y", "server#x", "/y", ""},
    {"http://server/", "server", "/", ""},
    {"http://server/?", "server", "/", "?"},
    {"://server/x", "server", "/x", ""},
    {"a://b://c/d", "b:", "//c/d", ""},
};

TEST(SplitUrlTest, EveryEdgeCaseOfPart22) {
    for (const SplitCase& c : Cases) {
        SCOPED_TRACE("url: \"" + c.url + "\"");
        const UrlParts parts = SplitUrl(c.url);
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.path, c.path);
        EXPECT_EQ(parts.suffix, c.suffix);
    }
}

TEST(SplitUrlTest, WorkerSplitOfTheObjectPathKeepsTheObject) {
    // The object requested is path + suffix; splitting that object again gives it back.
    for (const SplitCase& c : Cases) {
        SCOPED_TRACE("url: \"" + c.url + "\"");
        const UrlParts parts = SplitUrl(c.url);
        const UrlParts again = SplitUrl(parts.path + parts.suffix);
        EXPECT_EQ(again.host, "");
        EXPECT_EQ(again.path + again.suffix, parts.path + parts.suffix);
    }
}

} // namespace
