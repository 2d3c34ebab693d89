#include "fs/posix/long_path.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace fs::posix {
namespace {

constexpr size_t kShortPathLimit = PATH_MAX - 1;

int OpenComponentByComponent(const std::string& path) {
    int fd = open(path.starts_with('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t pos = 0;
    while (fd >= 0 && pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) {
            std::string part = path.substr(pos, end - pos);
            int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(fd);
            fd = next;
        }
        pos = end + 1;
    }
    return fd;
}

}  // namespace

int OpenDirectory(const std::string& path) {
    if (path.empty()) return -1;
    if (path.size() < kShortPathLimit)
        return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return OpenComponentByComponent(path);
}

PathAt::~PathAt() {
    if (owned && dirfd >= 0) close(dirfd);
}

bool ResolvePathAt(const std::string& path, PathAt& out) {
    if (path.empty()) return false;
    if (path.size() < kShortPathLimit) {
        out.dirfd = AT_FDCWD;
        out.name = path;
        return true;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash + 1);
    out.name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    out.dirfd = OpenDirectory(parent);
    out.owned = true;
    return out.dirfd >= 0 && !out.name.empty();
}

}  // namespace fs::posix
