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

inline bool WriteFile(const std::string& path, const std::string& bytes) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes);
}
