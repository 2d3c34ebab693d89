#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fs/file_find_record.h"

// Directory searches, attribute bits and existence tests. Paths are plain UTF-8 strings
// without any prefix; folder paths to which a name is joined end with the platform separator.
// Nothing here throws or reports: failure shows only in the result.
namespace fs {

// Opens a listing of `pattern` (a folder path followed by "*" or "*.*", or one path) and
// loads its first entry. Returns the search handle, or -1 when no search was opened.
intptr_t FindFirstEntry(const std::string& pattern, FileFindRecord& record);

// Loads the next entry. At the end of the listing, or on failure, returns false and closes
// the search; the entry fields keep the last entry.
bool FindNextEntry(FileFindRecord& record);

// Closes the record's search if one is open; true when closed or none was open.
bool CloseFind(FileFindRecord& record);

// The attribute bits of a file or folder, or 0xFFFFFFFF when they cannot be read.
uint32_t GetPathAttributes(const std::string& path);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Where `path` leads when it is itself a link (a symbolic link; on Windows also a junction):
// the full path of what it names, links resolved. Nothing when it is no link or leads nowhere.
std::optional<std::string> LinkTarget(const std::string& path);

// The identity of the file or folder a path leads to (links followed): device and inode on
// POSIX, volume serial number and file index on Windows. Used to notice a walk that would
// enter a folder it is already inside.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t file = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

}  // namespace fs
