#include "pst/ndb/file_handle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "fs/file.h"
#include "fs/utf8_path.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/write_window.h"

namespace pst::ndb {
namespace {

constexpr uint64_t kWritebackChunk = 8ull << 20;

using Kind = fs::FileError::Kind;
using Cause = NdbError::Cause;

// Runs one file call, reporting its failure as "PATH: WHAT failed: reason".
template <class Call>
auto Checked(const std::string& path, const char* what, Call&& call) {
    try {
        return call();
    } catch (const fs::FileError& e) {
        throw NdbError(path + ": " + what + " failed: " + e.what(), Cause::File, e.GetKind());
    }
}

std::string HeldMessage(const std::string& path, FileHandle::Access access) {
    return path + " is open in another session" +
           (access == FileHandle::Access::Read ? " for writing" : "");
}

}  // namespace

FileHandle::FileHandle() = default;

FileHandle::FileHandle(const std::filesystem::path& path, Access access)
    : path_(fs::Utf8FromPath(path)) {
    using Mode = fs::File::Mode;
    const Mode mode = access == Access::Read        ? Mode::Read
                      : access == Access::ReadWrite ? Mode::ReadWrite
                                                    : Mode::Create;
    try {
        file_ = std::make_unique<fs::File>(fs::File::Open(path_, mode));
    } catch (const fs::FileError& e) {
        const Kind kind = e.GetKind();
        // A refused write concerns the file when it is there, else the folder meant to hold it.
        std::error_code ec;
        if (access != Access::Read && (kind == Kind::AccessDenied || kind == Kind::ReadOnly) &&
            std::filesystem::exists(path, ec)) {
            throw NdbError(path_ + " is read-only: cannot open it for writing (" + e.what() + ")",
                           Cause::ReadOnly, kind);
        }
        // Windows refuses the open itself while another program holds the file unshared.
        if (kind == Kind::Locked) throw NdbError(HeldMessage(path_, access), Cause::InUse, kind);
        throw NdbError(
            path_ + ": " + (access == Access::Create ? "create" : "open") + " failed: " + e.what(),
            Cause::File, kind);
    }
    // Root may open a file marked read-only; honour the marking all the same.
    if (access != Access::Read &&
        !Checked(path_, "stat", [&] { return file_->HasWritePermission(); })) {
        throw NdbError(path_ + " is read-only: it has no write permission", Cause::ReadOnly);
    }
    if (!Checked(path_, "lock", [&] { return file_->TryLock(access != Access::Read); })) {
        throw NdbError(HeldMessage(path_, access), Cause::InUse);
    }
    if (access != Access::Read && !std::getenv("EML2PST_BUFFERED_WRITES")) {
        try {
            window_ = WriteWindow::Open(path_, *file_);
        } catch (const std::exception&) {
            // Without the window, writes are gathered in the buffer and go through the cache.
        }
    }
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : file_(std::move(other.file_)),
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
        Close();
        file_ = std::move(other.file_);
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
    Close();
}

void FileHandle::Close() noexcept {
    if (!file_) return;
    try {
        Flush();
    } catch (...) {
        // Only uncommitted bytes were gathered; the next writer treats them as free space.
    }
    window_.reset();
    file_.reset();  // closing drops the lock
    buffered_ = 0;
}

void FileHandle::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
    if (window_ && window_->Read(offset, out)) return;
    // Gathered bytes cover a middle part of the range (or all of it); the rest is in the file.
    uint64_t end = offset + out.size();
    if (buffered_ > 0 && offset < bufferAt_ + buffered_ && end > bufferAt_) {
        const uint64_t from = std::max(offset, bufferAt_);
        const uint64_t to = std::min<uint64_t>(end, bufferAt_ + buffered_);
        std::memcpy(out.data() + (from - offset), buffer_.get() + (from - bufferAt_), to - from);
        if (to < end) ReadAt(to, out.subspan(to - offset));
        end = from;
    }
    size_t done = 0;
    const size_t want = end - offset;
    while (done < want) {
        const size_t got = Checked(path_, "read", [&] {
            return file_->ReadAt(offset + done, out.data() + done, want - done);
        });
        done += got;
        if (done == want) break;
        if (window_ && window_->Pending()) {
            window_->Flush();  // writes still held further on make the file that long
            continue;
        }
        throw NdbError(path_ + ": unexpected end of file reading " + std::to_string(out.size()) +
                           " bytes at " + Hex(offset),
                       Cause::Damaged);
    }
}

std::span<uint8_t> FileHandle::PlaceWrite(uint64_t offset, size_t size) {
    if (window_) return window_->Place(offset, size);
    if (size > kWriteBufferBytes) {
        throw NdbError(path_ + ": a placed write of " + std::to_string(size) +
                       " bytes exceeds the write buffer");
    }
    // Joins the gathered bytes when it starts inside or right after them and still fits.
    const bool joins = buffered_ > 0 && offset >= bufferAt_ && offset <= bufferAt_ + buffered_ &&
                       offset - bufferAt_ + size <= kWriteBufferBytes;
    if (!joins) {
        Flush();
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kWriteBufferBytes);
        bufferAt_ = offset;
    }
    const size_t at = offset - bufferAt_;
    buffered_ = std::max(buffered_, at + size);
    return {buffer_.get() + at, size};
}

void FileHandle::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    if (window_) {
        window_->Write(offset, bytes);
        return;
    }
    if (bytes.size() > kWriteBufferBytes / 2) {
        // Too big to be worth gathering: written as it is, after what it may overlap.
        Flush();
        WriteOut(offset, bytes.data(), bytes.size());
        return;
    }
    std::memcpy(PlaceWrite(offset, bytes.size()).data(), bytes.data(), bytes.size());
}

void FileHandle::Flush() {
    if (window_) window_->Flush();
    if (buffered_ == 0) return;
    const size_t size = std::exchange(buffered_, 0);
    WriteOut(bufferAt_, buffer_.get(), size);
}

void FileHandle::WriteOut(uint64_t offset, const uint8_t* data, size_t size) {
    ++writeCalls_;
    Checked(path_, "write", [&] { file_->WriteAt(offset, data, size); });
    pendingFrom_ = std::min(pendingFrom_, offset);
    pendingTo_ = std::max<uint64_t>(pendingTo_, offset + size);
    pendingBytes_ += size;
    if (pendingBytes_ >= kWritebackChunk) StartWriteback();
}

// Lets the disk start on what was written while the conversion goes on, so the flush at a
// commit waits only for the last few megabytes instead of everything since the previous one.
// A hint only: durability still comes from Sync().
void FileHandle::StartWriteback() {
    if (pendingTo_ > pendingFrom_) file_->StartWriteback(pendingFrom_, pendingTo_ - pendingFrom_);
    pendingFrom_ = UINT64_MAX;
    pendingTo_ = 0;
    pendingBytes_ = 0;
}

uint64_t FileHandle::size() const {
    if (window_) window_->Flush();
    const uint64_t onDisk = Checked(path_, "stat", [&] { return file_->Size(); });
    return buffered_ > 0 ? std::max<uint64_t>(onDisk, bufferAt_ + buffered_) : onDisk;
}

void FileHandle::Truncate(uint64_t size) {
    Flush();
    Checked(path_, "resize", [&] { file_->Truncate(size); });
}

void FileHandle::Sync() {
    Flush();
    Checked(path_, "flush", [&] { file_->SyncData(); });
    pendingFrom_ = UINT64_MAX;
    pendingTo_ = 0;
    pendingBytes_ = 0;
}

}  // namespace pst::ndb
