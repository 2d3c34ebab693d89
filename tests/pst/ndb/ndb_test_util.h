#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace pst::ndb::testing {

// A unique folder for one test, removed with its contents.
using ScratchDir = testsupport::TempDir;

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::vector<uint8_t> out(std::filesystem::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return out;
}

inline void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Bytes that differ per position and per seed, so misplaced or swapped blocks show.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

inline std::filesystem::path SharedDir() {
    return EML2PST_SHARED_DIR;
}

}  // namespace pst::ndb::testing
