#include "UrlParts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SplitUrlTest, EdgeCasesAndTheWorkersSecondSplit) {
    const struct {
        std::string url, host, path, suffix;
    } cases[] = {
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
        // User information stays in the host, any scheme is skipped, a fragment alone starts the
        // suffix, "?" or "#" before the path stay in the host, nothing is decoded.
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
    for (const auto& c : cases) {
        SCOPED_TRACE("url: \"" + c.url + "\"");
        const UrlParts parts = SplitUrl(c.url);
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.path, c.path);
        EXPECT_EQ(parts.suffix, c.suffix);
        // The worker splits the requested object (path + suffix) again to name the file: that
        // split must give the same object back, with no host.
        const UrlParts again = SplitUrl(parts.path + parts.suffix);
        EXPECT_EQ(again.host, "");
        EXPECT_EQ(again.path + again.suffix, parts.path + parts.suffix);
    }
}

} // namespace
