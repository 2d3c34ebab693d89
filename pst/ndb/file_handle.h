#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace pst::ndb {

class WriteWindow;

// An open file with positioned I/O, durable flushes and an advisory whole-file lock.
class FileHandle {
  public:
    enum class Access { Read, ReadWrite, Create };

    FileHandle();
    // Opens (or for Create, opens or makes) the file and takes the lock: shared for Read,
    // exclusive otherwise. Throws NdbError "... is open in another session" when held.
    FileHandle(const std::filesystem::path& path, Access access);
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    void readAt(uint64_t offset, std::span<uint8_t> out) const;
    void writeAt(uint64_t offset, std::span<const uint8_t> bytes);
    uint64_t size() const;
    void truncate(uint64_t size);
    void sync();
    const std::string& path() const { return path_; }

  private:
    void startWriteback();

    int fd_ = -1;
    std::string path_;
    // Writes go through it when the file system takes direct I/O (see write_window.h).
    std::unique_ptr<WriteWindow> window_;
    // Written since the disk last started on it: the range and its size.
    uint64_t pendingFrom_ = UINT64_MAX;
    uint64_t pendingTo_ = 0;
    uint64_t pendingBytes_ = 0;
};

}  // namespace pst::ndb
