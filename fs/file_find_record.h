#pragma once

#include <cstdint>
#include <string>

namespace fs {

// One directory search and its current entry. The caller owns the record and passes it to
// every call of that search. Strings are UTF-8 (on POSIX: the name's bytes exactly as the file
// system holds them, valid UTF-8 or not).
struct FileFindRecord {
    int16_t Found = 0;  // -1 while the record holds a current entry, 0 otherwise
    std::string SearchPattern;
    intptr_t FindHandle = 0;  // the open search; -1 or 0 when none is open
    std::string FileName;     // the current entry's own name, cut at its first NUL
    uint32_t Attributes = 0;  // attribute bits as Windows reports them; 0x10 marks a folder
    // Why the last FindFirstEntry opened no search, in the system's words; empty when it
    // opened one or when nothing matched.
    std::string Error;
};

constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;
constexpr intptr_t kInvalidHandle = -1;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

constexpr uint32_t kAttrReadOnly = 0x1;
constexpr uint32_t kAttrHidden = 0x2;
constexpr uint32_t kAttrSystem = 0x4;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrReparsePoint = 0x400;

}  // namespace fs
