// The existence tests, built on the searches and the attribute test alone, so that every
// backend answers them the same way.
#include <filesystem>
#include <system_error>

#include "fs/mod_files.h"
#include "fs/path_forms.h"
#include "fs/utf8_path.h"

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

std::optional<std::string> LinkTarget(const std::string& path) {
    std::string own = path;
    // A trailing separator would make the test look through the link.
    while (own.size() > 1 && own.back() == kPathSeparator) own.pop_back();
    const uint32_t a = GetPathAttributes(own);
    if (a == kInvalidAttributes || (a & kAttrReparsePoint) == 0) return std::nullopt;
    std::error_code ec;
    const auto linked = PathFromUtf8(own);
    const auto target = std::filesystem::canonical(linked, ec);
    if (ec) return std::nullopt;
    // A reparse point that leads to itself (a cloud folder's placeholder, say) is no link.
    const auto self =
        std::filesystem::weakly_canonical(linked.parent_path(), ec) / linked.filename();
    if (!ec && self == target) return std::nullopt;
    return Utf8FromPath(target);
}

}  // namespace fs
