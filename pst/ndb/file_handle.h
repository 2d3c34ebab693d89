#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace fs {
class File;
}

namespace pst::ndb {

class WriteWindow;

// An open file with positioned I/O, durable flushes and an advisory whole-file lock.
//
// Writes are gathered. Where the file system takes direct I/O, a WriteWindow gathers them and
// writes them past the page cache (see write_window.h). Elsewhere a write that continues or
// overlaps the bytes gathered so far joins them in one buffer, which goes to the file in a
// single call when a write lands elsewhere, when the buffer is full, and before Sync(),
// Truncate() and closing. Either way reads see gathered bytes as if they were written, and
// gathered bytes are not on disk: only Sync() makes anything durable, as before.
class FileHandle {
  public:
    enum class Access { Read, ReadWrite, Create };

    // Bytes gathered at most before they go to the file in one write.
    static constexpr size_t kWriteBufferBytes = size_t{2} << 20;

    FileHandle();
    // Opens (or for Create, opens or makes) the file and takes the lock: shared for Read,
    // exclusive otherwise. Throws NdbError "... is open in another session" when held.
    FileHandle(const std::filesystem::path& path, Access access);
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    // Writes out what is still gathered (errors are lost: nothing durable depends on it).
    ~FileHandle();

    void ReadAt(uint64_t offset, std::span<uint8_t> out) const;
    void WriteAt(uint64_t offset, std::span<const uint8_t> bytes);
    // Room for `size` bytes (at most kWriteBufferBytes) at `offset`, to be filled by the caller
    // before the next call on this handle: a write without a copy. The bytes start undefined.
    std::span<uint8_t> PlaceWrite(uint64_t offset, size_t size);
    // Sends the gathered bytes to the file (not to the disk).
    void Flush();
    // Gathered bytes included.
    uint64_t size() const;
    void Truncate(uint64_t size);
    // Flushes, then waits until the file's data is on the disk.
    void Sync();
    const std::string& Path() const { return path_; }
    // Write calls made so far without a window (tests and benchmarks).
    uint64_t WriteCalls() const { return writeCalls_; }

  private:
    void WriteOut(uint64_t offset, const uint8_t* data, size_t size);
    void StartWriteback();
    void Close() noexcept;

    // Held apart so that the window's reference to it survives moves of the handle.
    std::unique_ptr<fs::File> file_;
    std::string path_;
    std::unique_ptr<WriteWindow> window_;  // when writes go past the page cache
    // Without a window, the gathered bytes: [bufferAt_, bufferAt_ + buffered_) of the file.
    std::unique_ptr<uint8_t[]> buffer_;
    uint64_t bufferAt_ = 0;
    size_t buffered_ = 0;
    uint64_t writeCalls_ = 0;
    // Written since the disk last started on it: the range and its size.
    uint64_t pendingFrom_ = UINT64_MAX;
    uint64_t pendingTo_ = 0;
    uint64_t pendingBytes_ = 0;
};

}  // namespace pst::ndb
