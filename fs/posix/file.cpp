// Regular files over descriptors: pread/pwrite, flock, fdatasync, and O_DIRECT on Linux.
#include "fs/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fs/posix/long_path.h"

namespace fs {
namespace {

using Kind = FileError::Kind;

FileError ErrorFrom(int err) {
    Kind kind = Kind::Other;
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            kind = Kind::NotFound;
            break;
        case EACCES:
        case EPERM:
            kind = Kind::AccessDenied;
            break;
        case EROFS:
            kind = Kind::ReadOnly;
            break;
        case EISDIR:
            kind = Kind::Folder;
            break;
        case EWOULDBLOCK:
            kind = Kind::Locked;
            break;
        case ENOSPC:
        case EDQUOT:
            kind = Kind::DiskFull;
            break;
        case ENAMETOOLONG:
            kind = Kind::PathTooLong;
            break;
        case EILSEQ:
            kind = Kind::BadName;
            break;
        case EINVAL:
        case EOPNOTSUPP:
            kind = Kind::Unsupported;
            break;
        default:
            break;
    }
    return FileError(kind, std::strerror(err));
}

[[noreturn]] void ThrowErrno() {
    throw ErrorFrom(errno);
}

// Refuses what is not a regular file, by its status.
void RequireRegular(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) throw FileError(Kind::Folder, "it is a folder");
    if (!S_ISREG(st.st_mode)) throw FileError(Kind::NotRegularFile, "it is not a regular file");
}

File::Status StatusFrom(const struct stat& st) {
    return {uint64_t(st.st_size), int64_t(st.st_mtime)};
}

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

File File::Open(const std::string& utf8Path, Mode mode, Status* status) {
    int flags = O_CLOEXEC | O_NONBLOCK;
    flags |= mode == Mode::Read ? O_RDONLY : O_RDWR;
    if (mode == Mode::Create) flags |= O_CREAT;
    posix::PathAt at;
    if (!posix::ResolvePathAt(utf8Path, at)) {
        if (utf8Path.empty()) errno = ENOENT;
        ThrowErrno();
    }
    // Devices are not even opened; a pipe put in place meanwhile opens at once (O_NONBLOCK)
    // and is refused below.
    struct stat st {};
    if (::fstatat(at.dirfd, at.name.c_str(), &st, 0) == 0) RequireRegular(st);
    const int fd = ::openat(at.dirfd, at.name.c_str(), flags, 0644);
    if (fd < 0) ThrowErrno();
    File file(fd, utf8Path);
    if (::fstat(fd, &st) != 0) ThrowErrno();
    RequireRegular(st);
    if (status) *status = StatusFrom(st);
    // O_NONBLOCK is the only status flag it was opened with.
    if (::fcntl(fd, F_SETFL, 0) != 0) ThrowErrno();
    return file;
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

File::~File() {
    Close();
}

bool File::IsOpen() const {
    return handle_ >= 0;
}

void File::Close() noexcept {
    if (handle_ < 0) return;
    ::close(Fd(handle_));
    handle_ = -1;
}

std::optional<File> File::ReopenUnbuffered() const {
#if defined(__linux__) && defined(O_DIRECT)
    // The descriptor itself, not the path, so that it is the same file whatever the path names.
    const std::string self = "/proc/self/fd/" + std::to_string(Fd(handle_));
    int fd = ::open(self.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        posix::PathAt at;
        if (posix::ResolvePathAt(path_, at))
            fd = ::openat(at.dirfd, at.name.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    }
    if (fd < 0) return std::nullopt;
    return File(fd, path_);
#else
    return std::nullopt;
#endif
}

size_t File::ReadAt(uint64_t offset, void* out, size_t n) const {
    auto* to = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(Fd(handle_), to + done, n - done, off_t(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ThrowErrno();
        if (r == 0) break;
        done += size_t(r);
    }
    return done;
}

void File::WriteAt(uint64_t offset, const void* data, size_t n) {
    const auto* from = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(Fd(handle_), from + done, n - done, off_t(offset + done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) ThrowErrno();
        if (w == 0) throw ErrorFrom(ENOSPC);  // nothing taken: retrying would spin
        done += size_t(w);
    }
}

uint64_t File::Size() const {
    struct stat st {};
    if (::fstat(Fd(handle_), &st) != 0) ThrowErrno();
    return uint64_t(st.st_size);
}

int64_t File::ModifiedTime() const {
    struct stat st {};
    if (::fstat(Fd(handle_), &st) != 0) ThrowErrno();
    return StatusFrom(st).modified;
}

bool File::HasWritePermission() const {
    struct stat st {};
    if (::fstat(Fd(handle_), &st) != 0) ThrowErrno();
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

void File::Truncate(uint64_t size) {
    if (::ftruncate(Fd(handle_), off_t(size)) != 0) ThrowErrno();
}

void File::SyncData() {
#ifdef __linux__
    if (::fdatasync(Fd(handle_)) != 0) ThrowErrno();
#else
    if (::fsync(Fd(handle_)) != 0) ThrowErrno();
#endif
}

bool File::TryLock(bool exclusive) {
    const int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(Fd(handle_), op) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return false;
        ThrowErrno();
    }
    return true;
}

void File::StartWriteback(uint64_t from, uint64_t length) noexcept {
#ifdef __linux__
    ::sync_file_range(Fd(handle_), off_t(from), off_t(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)from;
    (void)length;
#endif
}

int File::TakeCrtDescriptor() {
    return Fd(std::exchange(handle_, -1));
}

void* AlignedAlloc(size_t align, size_t size) {
    // aligned_alloc takes only whole multiples of the alignment.
    void* p = std::aligned_alloc(align, (size + align - 1) / align * align);
    if (!p) throw std::bad_alloc();
    return p;
}

bool RenameFile(const std::string& from, const std::string& to, bool replace) {
    posix::PathAt a, b;
    if (!posix::ResolvePathAt(from, a) || !posix::ResolvePathAt(to, b)) ThrowErrno();
    const char* fromName = a.name.c_str();
    const char* toName = b.name.c_str();
    if (replace) {
        if (::renameat(a.dirfd, fromName, b.dirfd, toName) != 0) ThrowErrno();
        return true;
    }
    if (::renameat2(a.dirfd, fromName, b.dirfd, toName, RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) ThrowErrno();
    // File systems without the no-replace rename: a new link fails the same way on a taken name.
    if (::linkat(a.dirfd, fromName, b.dirfd, toName, 0) == 0) {
        ::unlinkat(a.dirfd, fromName, 0);
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) ThrowErrno();
    // Without links either (FAT, some shares): the name is looked at, then taken.
    struct stat st {};
    if (::fstatat(b.dirfd, toName, &st, AT_SYMLINK_NOFOLLOW) == 0) return false;
    if (::renameat(a.dirfd, fromName, b.dirfd, toName) != 0) ThrowErrno();
    return true;
}

void AlignedFree(void* p) noexcept {
    std::free(p);
}

}  // namespace fs
