#include "RequestToken.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Md5Of(const std::string& text) {
    return Md5Hex(text.data(), text.size());
}

int DifferingPositions(const std::string& a, const std::string& b) {
    EXPECT_EQ(a.size(), b.size());
    int count = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        count += a[i] != b[i] ? 1 : 0;
    }
    return count;
}

// A token is the digest of the whole path with exactly ten of its hexadecimal digits changed.
void ExpectTokenOf(const std::string& path, const std::string& token) {
    ASSERT_EQ(token.size(), 32u) << path;
    EXPECT_EQ(token.find_first_not_of(HexAlphabet), std::string::npos) << token;
    EXPECT_EQ(DifferingPositions(token, Md5Of(path)), 10) << path << " " << token;
}

TEST(Md5HexTest, Rfc1321VectorsOverExactlyTheGivenBytes) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : vectors) {
        EXPECT_EQ(Md5Of(text), digest) << text;
    }
    EXPECT_EQ(Md5Hex(nullptr, 0), vectors[0].second);
    EXPECT_EQ(Md5Hex("abcdef", 3), vectors[2].second);
    EXPECT_NE(Md5Of(std::string("a\0b", 3)), vectors[1].second);
}

TEST(MakeRequestTokenTest, TenDigitsDifferFromThePlainDigestOverManyCalls) {
    for (std::uint32_t i = 0; i < 3000; ++i) {
        const std::string path = "/dir" + std::to_string(i) + "/file.bin?v=" + std::to_string(i);
        ExpectTokenOf(path, MakeRequestToken(path));
        ExpectTokenOf("/a.zip", MakeRequestToken("/a.zip", i * 2654435761u));
    }
}

TEST(MakeRequestTokenTest, QueryAndFragmentAreHashed) {
    const std::string plain = Md5Of("/a.zip");
    for (const std::string path : {"/a.zip?x=1", "/a.zip#top", "/a.zip?x=1#top"}) {
        const std::string token = MakeRequestToken(path, 77);
        ExpectTokenOf(path, token);
        EXPECT_GT(DifferingPositions(token, plain), 10) << path;
    }
}

TEST(MakeRequestTokenTest, SameSeedSameTokenOnAnyThread) {
    // Expected tokens are made on this thread; eight threads must then make the same ones at
    // once, which a generator shared between calls would not.
    std::vector<std::string> expected;
    std::set<std::string> distinct;
    for (std::uint32_t seed = 0; seed < 500; ++seed) {
        expected.push_back(MakeRequestToken("/a.zip", seed));
        distinct.insert(expected.back());
    }
    EXPECT_GT(distinct.size(), 450u); // the seed matters
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (std::uint32_t seed = 0; seed < expected.size(); ++seed) {
                mismatches[t] += MakeRequestToken("/a.zip", seed) != expected[seed] ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(8, 0));
}

TEST(ScrambleHexDigitsTest, ChangesMinOfCountAndLengthCharacters) {
    const struct {
        std::string text;
        int count;
        std::string_view alphabet;
        int changed;
    } cases[] = {
        {Md5Of("count"), 0, HexAlphabet, 0},
        {Md5Of("count"), 1, HexAlphabet, 1},
        {Md5Of("count"), 10, HexAlphabet, 10},
        {Md5Of("count"), 32, HexAlphabet, 32},
        {Md5Of("count"), -3, HexAlphabet, 0},
        {"0123456789abcdef0f", 40, HexAlphabet, 18},
        {"7", 10, HexAlphabet, 1},
        {"", 10, HexAlphabet, 0},
        {"0110", 4, "01", 4},
        {"aaaa", 4, "a", 0},
        {"aaaa", 4, "", 0},
    };
    for (const auto& c : cases) {
        for (std::uint32_t seed = 0; seed < 200; ++seed) {
            std::string text = c.text;
            ScrambleHexDigits(text, c.count, c.alphabet, seed);
            ASSERT_EQ(DifferingPositions(text, c.text), c.changed)
                << c.text << " count " << c.count << " seed " << seed;
            if (c.alphabet.size() > 1) {
                ASSERT_EQ(text.find_first_not_of(c.alphabet), std::string::npos) << text;
            }
        }
    }
}

} // namespace
