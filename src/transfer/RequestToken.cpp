#include "RequestToken.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// A generator of 15-bit values (0 to 32767) that lives for one call: the linear congruential
// sequence of the classic C runtime's rand, with its state held here instead of globally.
class Rand15 {
public:
    explicit Rand15(std::uint32_t seed) : state_(seed) {}

    unsigned operator()() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFFu;
    }

private:
    std::uint32_t state_;
};

} // namespace

std::string Md5Hex(const char* data, std::size_t length) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(data, static_cast<qsizetype>(length)), QCryptographicHash::Md5);
    const QByteArray hex = digest.toHex(); // lower case, two digits per byte, in order
    return std::string(hex.constData(), static_cast<std::size_t>(hex.size()));
}

void ScrambleHexDigits(std::string& text, int count, std::string_view alphabet,
                       std::uint32_t seed) {
    const std::size_t n = text.size();
    const std::size_t m = alphabet.size();
    if (count <= 0 || n == 0 || m < 2) {
        return; // nothing to change, or no other character to change to
    }

    // The generator belongs to this call, so tokens are safe on any thread.
    Rand15 rand(seed);

    const std::size_t changes = std::min(static_cast<std::size_t>(count), n);

    // The positions n-1, n-2, ..., 0.
    std::vector<std::size_t> positions(n);
    for (std::size_t k = 0; k < n; ++k) {
        positions[k] = n - 1 - k;
    }

    // Entry i is exchanged with an entry before it, j = r mod i.
    for (std::size_t i = 1; i < n; ++i) {
        const std::size_t j = (rand() & 0x7FFFu) % i;
        std::swap(positions[i], positions[j]);
    }

    // The 15 values of r map one to one onto the characters other than the old one.
    for (std::size_t k = 0; k < changes; ++k) {
        const std::size_t p = positions[k];
        const char old = text[p];
        const std::size_t r = rand() % (m - 1);
        const bool foundAfter = alphabet.find(old, r + 1) != std::string_view::npos;
        text[p] = foundAfter ? alphabet[r] : alphabet[r + 1];
    }
}

std::string MakeRequestToken(const std::string& objectPath, std::uint32_t seed) {
    // The path is hashed as a zero-terminated text, as the request carries it.
    const char* bytes = objectPath.c_str();
    std::string token = Md5Hex(bytes, std::strlen(bytes));
    ScrambleHexDigits(token, ScrambledDigitCount, HexAlphabet, seed);
    return token;
}

std::string MakeRequestToken(const std::string& objectPath) {
    const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return MakeRequestToken(objectPath, static_cast<std::uint32_t>(ticks.count()));
}
