#pragma once

#include <string>

namespace fs::posix {

// A file descriptor of the directory at `path`, however long the path is (paths beyond
// PATH_MAX are opened one component at a time). -1 on failure; the caller closes it.
int OpenDirectory(const std::string& path);

// Splits `path` into an open directory and the last name in it, so that *at() calls reach
// files whose full path exceeds PATH_MAX. `dirfd` is AT_FDCWD (nothing to close) when the path
// is short enough to use as it is; then `name` is the whole path.
struct PathAt {
    int dirfd = -1;
    std::string name;
    bool owned = false;
    PathAt() = default;
    PathAt(const PathAt&) = delete;
    PathAt& operator=(const PathAt&) = delete;
    ~PathAt();
};
bool ResolvePathAt(const std::string& path, PathAt& out);

}  // namespace fs::posix
