#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fs {

// Paths are UTF-8 text everywhere inside the program. std::filesystem::path reads a plain
// std::string in the system's narrow encoding (the ANSI code page on Windows), so every
// conversion between the two goes through these.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace fs
