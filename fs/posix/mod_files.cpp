// Directory searches over opendir/readdir with Windows' view of the results: the patterns
// "*" and "*.*" match every name, "." and ".." come first, folders carry 0x10 and names that
// start with a dot carry the hidden bit.
#include "fs/mod_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "fs/path_forms.h"
#include "fs/platform_probe.h"
#include "fs/posix/long_path.h"
#include "fs/text.h"

namespace fs {
namespace {

// Windows wildcard match, letter case ignored for ASCII.
bool Matches(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsWildcard(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}
bool IsDots(std::string_view n) {
    return n == "." || n == "..";
}

uint32_t AttributesFrom(const struct stat& st, std::string_view name, bool isLink) {
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) {
        a |= kAttrDirectory;
    } else {
        a |= kAttrArchive;
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) a |= kAttrReadOnly;
    }
    if (!name.empty() && name[0] == '.' && !IsDots(name)) a |= kAttrHidden;
    if (isLink) a |= kAttrReparsePoint;
    return a;
}

// Attributes of `name` inside an open directory (links followed, as Windows reports the
// target of a folder link; a dangling link reports itself).
uint32_t AttributesAt(int dirfd, const std::string& name, std::string_view shownName) {
    struct stat lst {};
    if (fstatat(dirfd, name.c_str(), &lst, AT_SYMLINK_NOFOLLOW) != 0) return kInvalidAttributes;
    bool isLink = S_ISLNK(lst.st_mode);
    struct stat st {};
    if (isLink && fstatat(dirfd, name.c_str(), &st, 0) == 0)
        return AttributesFrom(st, shownName, true);
    return AttributesFrom(lst, shownName, isLink);
}

std::string LastName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

struct Search {
    DIR* dir = nullptr;
    int dirfd = -1;
    std::string match;
    int dotsLeft = 0;         // "." and ".." still to hand out
    bool singleDone = false;  // a search for one path has handed out its entry
    ~Search() {
        if (dir) closedir(dir);
    }
};

// The open searches by handle. Several threads search at once when mailboxes are converted
// side by side: the table is shared, each search is used by the thread that opened it.
struct SearchTable {
    std::mutex mutex;
    std::map<intptr_t, std::unique_ptr<Search>> searches;
    intptr_t next = 0x100;
};

SearchTable& OpenSearches() {
    static SearchTable table;
    return table;
}

intptr_t AddSearch(std::unique_ptr<Search> search) {
    SearchTable& t = OpenSearches();
    std::lock_guard<std::mutex> lock(t.mutex);
    const intptr_t handle = t.next++;
    t.searches[handle] = std::move(search);
    return handle;
}

Search* FindSearch(intptr_t handle) {
    SearchTable& t = OpenSearches();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.searches.find(handle);
    return it == t.searches.end() ? nullptr : it->second.get();
}

bool RemoveSearch(intptr_t handle) {
    SearchTable& t = OpenSearches();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.searches.erase(handle) == 1;
}

void Load(FileFindRecord& record, std::string name, uint32_t attributes) {
    record.FileName = CutAtNul(name);
    record.Attributes = attributes;
}

// Advances to the next matching entry; false at the end.
bool Advance(Search& s, FileFindRecord& record) {
    while (s.dotsLeft > 0) {
        std::string dots = s.dotsLeft == 2 ? "." : "..";
        --s.dotsLeft;
        if (!Matches(s.match, dots)) continue;
        Load(record, dots, AttributesAt(s.dirfd, dots, dots));
        return true;
    }
    if (!s.dir) return false;
    while (struct dirent* e = readdir(s.dir)) {
        std::string name = e->d_name;
        if (IsDots(name) || !Matches(s.match, name)) continue;
        uint32_t a = AttributesAt(s.dirfd, name, name);
        if (a == kInvalidAttributes) continue;  // removed since it was listed
        Load(record, name, a);
        return true;
    }
    return false;
}

void EnsureProbe() {
    if (!ModuleState().probeDone) ProbePlatform();
}

intptr_t FailOpen(FileFindRecord& record, int err = 0) {
    if (err != 0) record.Error = std::strerror(err);
    record.Found = kFalse;
    record.FindHandle = kInvalidHandle;
    return kInvalidHandle;
}

}  // namespace

intptr_t FindFirstEntry(const std::string& pattern, FileFindRecord& record) {
    record.SearchPattern = pattern;
    record.Error.clear();
    if (StartsWithNoCase(pattern, "ftp://")) {
        record.Found = kFalse;
        return kInvalidHandle;
    }
    EnsureProbe();

    size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (last.empty()) return FailOpen(record);

    auto search = std::make_unique<Search>();
    if (IsWildcard(last)) {
        int fd = posix::OpenDirectory(folder);
        if (fd < 0) return FailOpen(record, errno);
        search->dir = fdopendir(fd);
        if (!search->dir) {
            const int err = errno;
            close(fd);
            return FailOpen(record, err);
        }
        search->dirfd = dirfd(search->dir);
        search->match = last;
        search->dotsLeft = 2;
        if (!Advance(*search, record)) return FailOpen(record);
    } else {
        // One path: its own entry, as Windows lists a single name.
        posix::PathAt at;
        if (!posix::ResolvePathAt(pattern, at)) return FailOpen(record);
        uint32_t a = AttributesAt(at.dirfd, at.name, last);
        if (a == kInvalidAttributes) return FailOpen(record);
        Load(record, last, a);
        search->singleDone = true;
    }
    intptr_t handle = AddSearch(std::move(search));
    record.Found = kTrue;
    record.FindHandle = handle;
    return handle;
}

bool FindNextEntry(FileFindRecord& record) {
    EnsureProbe();
    Search* search = FindSearch(record.FindHandle);
    if (search && !search->singleDone) {
        if (Advance(*search, record)) {
            record.Found = kTrue;
            return true;
        }
    }
    record.Found = kFalse;
    CloseFind(record);
    record.FindHandle = 0;
    return false;
}

bool CloseFind(FileFindRecord& record) {
    bool ok = true;
    if (record.FindHandle != 0 && record.FindHandle != kInvalidHandle)
        ok = RemoveSearch(record.FindHandle);
    record.Found = kFalse;
    record.FindHandle = kInvalidHandle;
    return ok;
}

uint32_t GetPathAttributes(const std::string& path) {
    EnsureProbe();
    posix::PathAt at;
    if (!posix::ResolvePathAt(path, at)) return kInvalidAttributes;
    return AttributesAt(at.dirfd, at.name, LastName(path));
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    posix::PathAt at;
    if (!posix::ResolvePathAt(path, at)) return std::nullopt;
    struct stat st {};
    if (fstatat(at.dirfd, at.name.c_str(), &st, 0) != 0) return std::nullopt;
    return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

}  // namespace fs
