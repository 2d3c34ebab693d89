#include "pst/ndb/file_handle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "pst/ndb/errors.h"
#include "pst/ndb/write_window.h"

namespace pst::ndb {
namespace {

constexpr uint64_t kWritebackChunk = 8ull << 20;

std::string SystemError(const std::string& path, const char* what) {
    return path + ": " + what + " failed: " + std::strerror(errno);
}

}  // namespace

FileHandle::FileHandle() = default;

FileHandle::FileHandle(const std::filesystem::path& path, Access access) : path_(path.string()) {
    int flags = O_CLOEXEC;
    if (access == Access::Read) flags |= O_RDONLY;
    if (access == Access::ReadWrite) flags |= O_RDWR;
    if (access == Access::Create) flags |= O_RDWR | O_CREAT;
    fd_ = ::open(path_.c_str(), flags, 0644);
    if (fd_ < 0) {
        if (access != Access::Read && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            throw NdbError(path_ + " is read-only: cannot open it for writing (" +
                           std::strerror(errno) + ")");
        }
        throw NdbError(SystemError(path_, "open"));
    }
    if (access != Access::Read) {
        // Root may open a file marked read-only; honour the marking all the same.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            ::close(fd_);
            fd_ = -1;
            throw NdbError(path_ + " is read-only: it has no write permission");
        }
    }
    const int op = (access == Access::Read ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (::flock(fd_, op) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK) {
            throw NdbError(path_ + " is open in another session" +
                           (access == Access::Read ? " for writing" : ""));
        }
        errno = err;
        throw NdbError(SystemError(path_, "lock"));
    }
    if (access != Access::Read && !std::getenv("EML2PST_BUFFERED_WRITES")) {
        try {
            window_ = WriteWindow::Open(path_, fd_);
        } catch (const std::exception&) {
            // Without the window, writes are gathered in the buffer and go through the cache.
        }
    }
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      window_(std::move(other.window_)),
      buffer_(std::move(other.buffer_)),
      bufferAt_(other.bufferAt_),
      buffered_(std::exchange(other.buffered_, 0)),
      writeCalls_(other.writeCalls_),
      pendingFrom_(std::exchange(other.pendingFrom_, UINT64_MAX)),
      pendingTo_(std::exchange(other.pendingTo_, 0)),
      pendingBytes_(std::exchange(other.pendingBytes_, 0)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        window_ = std::move(other.window_);
        buffer_ = std::move(other.buffer_);
        bufferAt_ = other.bufferAt_;
        buffered_ = std::exchange(other.buffered_, 0);
        writeCalls_ = other.writeCalls_;
        pendingFrom_ = std::exchange(other.pendingFrom_, UINT64_MAX);
        pendingTo_ = std::exchange(other.pendingTo_, 0);
        pendingBytes_ = std::exchange(other.pendingBytes_, 0);
    }
    return *this;
}

FileHandle::~FileHandle() {
    close();
}

void FileHandle::close() noexcept {
    if (fd_ < 0) return;
    try {
        flush();
    } catch (...) {
        // Only uncommitted bytes were gathered; the next writer treats them as free space.
    }
    window_.reset();
    ::close(fd_);  // closing drops the lock
    fd_ = -1;
    buffered_ = 0;
}

void FileHandle::readAt(uint64_t offset, std::span<uint8_t> out) const {
    if (window_ && window_->read(offset, out)) return;
    // Gathered bytes cover a middle part of the range (or all of it); the rest is in the file.
    uint64_t end = offset + out.size();
    if (buffered_ > 0 && offset < bufferAt_ + buffered_ && end > bufferAt_) {
        const uint64_t from = std::max(offset, bufferAt_);
        const uint64_t to = std::min<uint64_t>(end, bufferAt_ + buffered_);
        std::memcpy(out.data() + (from - offset), buffer_.get() + (from - bufferAt_), to - from);
        if (to < end) readAt(to, out.subspan(to - offset));
        end = from;
    }
    size_t done = 0;
    const size_t want = end - offset;
    while (done < want) {
        const ssize_t n =
            ::pread(fd_, out.data() + done, want - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw NdbError(SystemError(path_, "read"));
        }
        if (n == 0 && window_ && window_->pending()) {
            window_->flush();  // writes still held further on make the file that long
            continue;
        }
        if (n == 0) {
            throw NdbError(path_ + ": unexpected end of file reading " +
                           std::to_string(out.size()) + " bytes at " + Hex(offset));
        }
        done += static_cast<size_t>(n);
    }
}

std::span<uint8_t> FileHandle::placeWrite(uint64_t offset, size_t size) {
    if (window_) return window_->place(offset, size);
    if (size > kWriteBufferBytes) {
        throw NdbError(path_ + ": a placed write of " + std::to_string(size) +
                       " bytes exceeds the write buffer");
    }
    // Joins the gathered bytes when it starts inside or right after them and still fits.
    const bool joins = buffered_ > 0 && offset >= bufferAt_ && offset <= bufferAt_ + buffered_ &&
                       offset - bufferAt_ + size <= kWriteBufferBytes;
    if (!joins) {
        flush();
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kWriteBufferBytes);
        bufferAt_ = offset;
    }
    const size_t at = offset - bufferAt_;
    buffered_ = std::max(buffered_, at + size);
    return {buffer_.get() + at, size};
}

void FileHandle::writeAt(uint64_t offset, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    if (window_) {
        window_->write(offset, bytes);
        return;
    }
    if (bytes.size() > kWriteBufferBytes / 2) {
        // Too big to be worth gathering: written as it is, after what it may overlap.
        flush();
        writeOut(offset, bytes.data(), bytes.size());
        return;
    }
    std::memcpy(placeWrite(offset, bytes.size()).data(), bytes.data(), bytes.size());
}

void FileHandle::flush() {
    if (window_) window_->flush();
    if (buffered_ == 0) return;
    const size_t size = std::exchange(buffered_, 0);
    writeOut(bufferAt_, buffer_.get(), size);
}

void FileHandle::writeOut(uint64_t offset, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        ++writeCalls_;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw NdbError(SystemError(path_, "write"));
        }
        done += static_cast<size_t>(n);
    }
    pendingFrom_ = std::min(pendingFrom_, offset);
    pendingTo_ = std::max<uint64_t>(pendingTo_, offset + size);
    pendingBytes_ += size;
    if (pendingBytes_ >= kWritebackChunk) startWriteback();
}

// Lets the disk start on what was written while the conversion goes on, so the flush at a
// commit waits only for the last few megabytes instead of everything since the previous one.
// A hint only: durability still comes from sync().
void FileHandle::startWriteback() {
#ifdef __linux__
    if (pendingTo_ > pendingFrom_)
        ::sync_file_range(fd_, static_cast<off_t>(pendingFrom_),
                          static_cast<off_t>(pendingTo_ - pendingFrom_), SYNC_FILE_RANGE_WRITE);
#endif
    pendingFrom_ = UINT64_MAX;
    pendingTo_ = 0;
    pendingBytes_ = 0;
}

uint64_t FileHandle::size() const {
    if (window_) window_->flush();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw NdbError(SystemError(path_, "stat"));
    const auto onDisk = static_cast<uint64_t>(st.st_size);
    return buffered_ > 0 ? std::max<uint64_t>(onDisk, bufferAt_ + buffered_) : onDisk;
}

void FileHandle::truncate(uint64_t size) {
    flush();
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        throw NdbError(SystemError(path_, "resize"));
    }
}

void FileHandle::sync() {
    flush();
    if (::fdatasync(fd_) != 0) throw NdbError(SystemError(path_, "flush"));
    pendingFrom_ = UINT64_MAX;
    pendingTo_ = 0;
    pendingBytes_ = 0;
}

}  // namespace pst::ndb
