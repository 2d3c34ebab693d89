#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pst::ndb {

struct VerifyReport {
    std::vector<std::string> errors;    // the file breaks a rule of the format
    std::vector<std::string> warnings;  // allowed, but unusual or only tolerated
    uint64_t nodes = 0;
    uint64_t blocks = 0;
    uint64_t pages = 0;  // NBT and BBT pages
};

// Checks the node-database level of a PST file without changing it: header, map pages,
// B-tree pages and order, every block (trailer, data CRC, internal block structure),
// reference counts against references, and the AMap bits against what is allocated.
// Takes a shared lock: a file open for writing (in this process too) is reported, not read.
VerifyReport VerifyFileReport(const std::filesystem::path& path);

// The errors of VerifyFileReport(); empty when the file is sound.
std::vector<std::string> VerifyFile(const std::filesystem::path& path);

}  // namespace pst::ndb
