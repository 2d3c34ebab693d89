#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace fs {

// A failed file operation. what() is the system's own text for the failure (or, for a path
// that is not a regular file, a plain statement of that); the kind lets callers word their
// own messages around it.
class FileError : public std::runtime_error {
  public:
    enum class Kind {
        NotFound,
        AccessDenied,
        ReadOnly,        // a read-only medium or a file marked read-only
        Folder,          // the path names a folder
        NotRegularFile,  // a pipe, a device, a socket
        Locked,          // held by another opener
        DiskFull,
        PathTooLong,
        BadName,      // a name the file system does not allow
        Unsupported,  // the request is not one this file or file system takes
        Other,
    };
    FileError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind GetKind() const { return kind_; }

  private:
    Kind kind_;
};

// An open regular file with positioned reads and writes. Positioned calls may run from several
// threads at once. Closing the file drops its lock.
class File {
  public:
    enum class Mode {
        Read,
        ReadWrite,  // the file must exist
        Create,     // read and write; made when missing
    };

    // Writes through a handle from ReopenUnbuffered() must start at an offset that is a
    // multiple of this, from memory aligned to it, and cover a multiple of it.
    static constexpr size_t kUnbufferedAlignment = 4096;

    struct Status {
        uint64_t size = 0;
        int64_t modified = 0;  // as ModifiedTime()
    };

    // Opens a regular file. Anything else (a folder, a pipe, a device) is refused without
    // waiting for it. Throws FileError. `status`, when given, gets the file's size and time as
    // the check of what it is found them (a file read once needs no other query).
    static File Open(const std::string& utf8Path, Mode mode, Status* status = nullptr);

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool IsOpen() const;
    void Close() noexcept;

    // A second handle on the same file (not on whatever the path names by now) whose writes
    // bypass the system's cache; empty where the platform or the file system does not offer
    // that. Its writes fail with Kind::Unsupported when the file system refuses a transfer.
    std::optional<File> ReopenUnbuffered() const;

    // Reads up to `n` bytes; fewer only at the end of the file. Throws FileError.
    size_t ReadAt(uint64_t offset, void* out, size_t n) const;
    // Writes all `n` bytes or throws FileError.
    void WriteAt(uint64_t offset, const void* data, size_t n);

    uint64_t Size() const;
    // Seconds since 1970-01-01 UTC.
    int64_t ModifiedTime() const;
    // False when the file is marked read-only, which some users (root) could still open for
    // writing.
    bool HasWritePermission() const;

    void Truncate(uint64_t size);
    // Returns once the file's data is on the disk.
    void SyncData();
    // An advisory lock on the whole file, shared or exclusive; false when another opener holds
    // a lock that conflicts with it. Throws FileError on other failures.
    bool TryLock(bool exclusive);
    // A hint that the disk may start writing out the range now; does nothing where the system
    // has no such call. Never fails.
    void StartWriteback(uint64_t from, uint64_t length) noexcept;

    // Hands the file over as a C runtime descriptor opened for reading (for libraries that
    // take one); the File is closed after. Throws FileError.
    int TakeCrtDescriptor();

  private:
    File(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

    intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
    std::string path_;      // as opened, for reopening
};

// Gives the file at `from` the name `to` (both in one folder). With `replace`, a file already
// named `to` is replaced; without, the name is taken only while free: false when a file holds
// it, and nothing changes. Throws FileError on other failures.
bool RenameFile(const std::string& from, const std::string& to, bool replace);

// Memory aligned to `align` (a power of two), for unbuffered writes. Throws std::bad_alloc.
void* AlignedAlloc(size_t align, size_t size);
void AlignedFree(void* p) noexcept;

}  // namespace fs
