#pragma once

#include <fstream>
#include <sstream>
#include <string>

// A file's bytes, or "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in ? bytes.str() : "<missing>";
}

// size bytes of a pattern of its own for each seed, in which no stretch repeats nearby: a file
// whose parts cannot be mistaken for one another.
inline std::string PatternBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + (i * 2654435761u >> 24) + (i >> 16));
    }
    return bytes;
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes);
}
