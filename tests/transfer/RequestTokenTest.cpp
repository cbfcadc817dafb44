#include "RequestToken.h"

#include <gtest/gtest.h>

#include <cstring>
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

bool AllFromAlphabet(const std::string& text, std::string_view alphabet) {
    return text.find_first_not_of(alphabet) == std::string::npos;
}

TEST(Md5HexTest, Rfc1321TestSuite) {
    EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Of("1234567890123456789012345678901234567890"
                    "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5HexTest, HashesExactlyTheGivenBytes) {
    EXPECT_EQ(Md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abcdef", 3), "900150983cd24fb0d6963f7d28e17f72");
    const std::string withZero("a\0b", 3);
    EXPECT_NE(Md5Of(withZero), Md5Of("a"));
}

TEST(MakeRequestTokenTest, TenDigitsDifferFromThePlainDigestOverManyPaths) {
    for (int i = 0; i < 2000; ++i) {
        const std::string path =
            "/dir" + std::to_string(i) + "/file.bin?v=" + std::to_string(i * 7);
        SCOPED_TRACE(path);
        const std::string plain = Md5Of(path);
        const std::string token = MakeRequestToken(path);
        ASSERT_EQ(token.size(), 32u);
        EXPECT_TRUE(AllFromAlphabet(token, HexAlphabet)) << token;
        EXPECT_EQ(DifferingPositions(token, plain), ScrambledDigitCount) << token << " " << plain;
    }
}

TEST(MakeRequestTokenTest, SeededTokensDifferInTenPositionsForManySeeds) {
    const std::string path = "/a.zip";
    const std::string plain = Md5Of(path);
    for (std::uint32_t seed = 0; seed < 5000; ++seed) {
        const std::string token = MakeRequestToken(path, seed * 2654435761u);
        ASSERT_EQ(token.size(), 32u);
        ASSERT_TRUE(AllFromAlphabet(token, HexAlphabet)) << token;
        ASSERT_EQ(DifferingPositions(token, plain), ScrambledDigitCount) << "seed " << seed;
    }
}

TEST(MakeRequestTokenTest, SameSeedSameToken) {
    for (std::uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MakeRequestToken("/a.zip", seed), MakeRequestToken("/a.zip", seed));
        std::string scrambled = Md5Of("/a.zip");
        ScrambleHexDigits(scrambled, ScrambledDigitCount, HexAlphabet, seed);
        EXPECT_EQ(MakeRequestToken("/a.zip", seed), scrambled);
    }
    // Different seeds normally give different tokens.
    std::set<std::string> tokens;
    for (std::uint32_t seed = 0; seed < 100; ++seed) {
        tokens.insert(MakeRequestToken("/a.zip", seed));
    }
    EXPECT_GT(tokens.size(), 90u);
}

TEST(MakeRequestTokenTest, QueryAndFragmentAreHashed) {
    const std::uint32_t seed = 77;
    const std::string a = MakeRequestToken("/a.zip", seed);
    const std::string b = MakeRequestToken("/a.zip?x=1", seed);
    EXPECT_NE(Md5Of("/a.zip"), Md5Of("/a.zip?x=1"));
    EXPECT_EQ(DifferingPositions(a, Md5Of("/a.zip")), 10);
    EXPECT_EQ(DifferingPositions(b, Md5Of("/a.zip?x=1")), 10);
    EXPECT_NE(a, b);
}

TEST(MakeRequestTokenTest, SafeOnManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 500; ++i) {
                const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
                const std::string token = MakeRequestToken(path, static_cast<std::uint32_t>(i));
                std::string expected = Md5Of(path);
                ScrambleHexDigits(expected, 10, HexAlphabet, static_cast<std::uint32_t>(i));
                if (token != expected || DifferingPositions(token, Md5Of(path)) != 10) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int f : failures) {
        EXPECT_EQ(f, 0);
    }
}

TEST(ScrambleHexDigitsTest, CountAboveLengthChangesEveryCharacter) {
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        const std::string original = "0123456789abcdef0f";
        std::string text = original;
        ScrambleHexDigits(text, 40, HexAlphabet, seed);
        ASSERT_EQ(text.size(), original.size());
        EXPECT_EQ(DifferingPositions(text, original), static_cast<int>(original.size()));
        EXPECT_TRUE(AllFromAlphabet(text, HexAlphabet));
    }
    std::string one = "7";
    ScrambleHexDigits(one, 10, HexAlphabet, 5);
    EXPECT_NE(one, "7");
    EXPECT_EQ(one.size(), 1u);
}

TEST(ScrambleHexDigitsTest, CountIsHonouredExactly) {
    const std::string original = Md5Of("count");
    for (int count = 0; count <= 32; ++count) {
        for (std::uint32_t seed = 0; seed < 50; ++seed) {
            std::string text = original;
            ScrambleHexDigits(text, count, HexAlphabet, seed);
            ASSERT_EQ(DifferingPositions(text, original), count) << "count " << count;
        }
    }
    std::string text = original;
    ScrambleHexDigits(text, -3, HexAlphabet, 1);
    EXPECT_EQ(text, original);
    std::string empty;
    ScrambleHexDigits(empty, 10, HexAlphabet, 1);
    EXPECT_EQ(empty, "");
}

TEST(ScrambleHexDigitsTest, DigitMappingOfStep5) {
    // With a two-character alphabet r is always 0: a character found at index 1 or later
    // becomes alphabet[0], any other becomes alphabet[1].
    for (std::uint32_t seed = 0; seed < 20; ++seed) {
        std::string text = "0110";
        ScrambleHexDigits(text, 4, "01", seed);
        EXPECT_EQ(text, "1001");
        std::string other = "x1";
        ScrambleHexDigits(other, 2, "01", seed);
        EXPECT_EQ(other, "10");
    }
    // Every other digit is reachable, and the old digit never comes back.
    std::set<char> seen;
    for (std::uint32_t seed = 0; seed < 2000; ++seed) {
        std::string text(32, 'a');
        ScrambleHexDigits(text, 1, HexAlphabet, seed);
        for (char c : text) {
            if (c != 'a') {
                seen.insert(c);
            }
        }
    }
    EXPECT_EQ(seen.size(), 15u);
    EXPECT_EQ(seen.count('a'), 0u);
}

TEST(ScrambleHexDigitsTest, PositionsFollowTheDescendingListAndItsShuffle) {
    // n = 2: the list 1, 0 is always exchanged at i = 1 (j = r mod 1 = 0), so position 0 is the
    // first one changed.
    for (std::uint32_t seed = 0; seed < 50; ++seed) {
        std::string text = "00";
        ScrambleHexDigits(text, 1, HexAlphabet, seed);
        EXPECT_EQ(text[0] != '0', true);
        EXPECT_EQ(text[1], '0');
    }
    // The entry at i is always exchanged with one before it, so the first entry of the shuffled
    // list is never its first value n - 1: with count 1 the last character never changes, and
    // every other position is chosen for some seed.
    for (std::size_t n : {3u, 5u, 32u}) {
        std::set<std::size_t> chosen;
        for (std::uint32_t seed = 0; seed < 5000; ++seed) {
            std::string text(n, '0');
            ScrambleHexDigits(text, 1, HexAlphabet, seed * 2654435761u);
            const std::size_t at = text.find_first_not_of('0');
            ASSERT_NE(at, std::string::npos);
            chosen.insert(at);
        }
        EXPECT_EQ(chosen.count(n - 1), 0u) << "n " << n;
        EXPECT_EQ(chosen.size(), n - 1) << "n " << n;
    }
}

TEST(ScrambleHexDigitsTest, AlphabetTooSmallChangesNothing) {
    std::string text = "aaaa";
    ScrambleHexDigits(text, 4, "a", 3);
    EXPECT_EQ(text, "aaaa");
    ScrambleHexDigits(text, 4, "", 3);
    EXPECT_EQ(text, "aaaa");
}

} // namespace
