// The existence tests, built on the searches and the attribute test alone, so that every
// backend answers them the same way.
#include "fs/mod_files.h"
#include "fs/path_forms.h"

namespace fs {

bool FileExists(const std::string& path) {
    uint32_t a = GetPathAttributes(path);
    if (a != kInvalidAttributes && (a & kAttrDirectory) == 0) return true;
    FileFindRecord record;
    if (FindFirstEntry(path, record) == kInvalidHandle) return false;
    bool isFile = (record.Attributes & kAttrDirectory) == 0;
    CloseFind(record);
    return isFile;
}

bool FolderExists(const std::string& path) {
    std::string s = WithTrailingBackslash(path);
    uint32_t a = GetPathAttributes(path);
    if (a != kInvalidAttributes && (a & kAttrDirectory) != 0) return true;
    FileFindRecord record;
    if (FindFirstEntry(s + "*.*", record) != kInvalidHandle) {
        CloseFind(record);
        return true;
    }
    return FileExists(s + "nul");
}

}  // namespace fs
