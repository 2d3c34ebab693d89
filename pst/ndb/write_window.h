#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fs/file.h"

namespace pst::ndb {

// Gathers the writes that land in one page-aligned stretch of the file (the window) and hands
// them to a writer thread, which writes the whole pages among them past the page cache (an
// unbuffered handle) and the few partly covered pages through the ordinary handle. Data files
// are written almost front to back in blocks of a few KB; through the page cache the kernel's
// copying and writeback cost more than everything else the converter does, and a write there
// waits for the file's lock while a direct write is under way. So every write goes through the
// writer, in the order it was made, and the converter goes on with the next messages.
//
// Only bytes that were written are ever written back: a page is written directly only when
// every byte of it came through here, so whatever the file holds around a write stays.
// Flush() makes everything written so far reach the file (and waits for the writer);
// durability still comes from the caller's SyncData after it.
class WriteWindow {
  public:
    static constexpr uint64_t kPage = 4096;
    static constexpr uint64_t kSpan = 2u << 20;
    // The window and up to three spans queued: the writer gets through bursts (a message with
    // large attachments) while the converter goes on.
    static constexpr size_t kBuffers = 4;

    // A window over `file` (open for writing, and outliving the window), or null where the
    // file system does not take unbuffered writes; the caller then writes through `file`.
    static std::unique_ptr<WriteWindow> Open(const std::string& path, fs::File& file);
    // Writes what is pending, as best it can: errors are for Flush() to report.
    ~WriteWindow();
    WriteWindow(const WriteWindow&) = delete;
    WriteWindow& operator=(const WriteWindow&) = delete;

    void Write(uint64_t offset, std::span<const uint8_t> bytes);
    // Room for `size` bytes (at most kSpan - kPage) at `offset`, for the caller to fill before
    // its next call: a write without a copy. The bytes start undefined.
    std::span<uint8_t> Place(uint64_t offset, size_t size);
    // Copies `out` from the window when it holds every byte of it; otherwise makes sure the
    // file holds whatever was written there (flushing when the range was touched) and
    // returns false, for the caller to read the file.
    bool Read(uint64_t offset, std::span<uint8_t> out);
    void Flush();
    // Whether written bytes are held that the file does not have yet.
    bool Pending();

  private:
    struct Piece {
        uint64_t offset;
        const uint8_t* data;
        size_t size;
        bool direct;
    };
    // Writes for the writer, done in order; `buffer` (a window's) returns to the pool after.
    struct Job {
        std::vector<Piece> pieces;
        uint8_t* buffer = nullptr;
        std::vector<uint8_t> bytes;                         // the data of writes behind the window
        std::vector<std::pair<uint64_t, uint64_t>> ranges;  // what it touches, for readers
    };
    struct Window {
        uint8_t* data = nullptr;
        uint64_t base = 0;                                  // file offset of data[0], page-aligned
        std::vector<std::pair<uint64_t, uint64_t>> ranges;  // written [from, to), sorted, apart
    };

    WriteWindow(std::string path, fs::File& file, fs::File direct);
    void WriterLoop();
    // One piece through the handle it belongs to (on the writer thread); throws fs::FileError.
    void WriteOut(const Piece& p);
    // Queues the writes held behind the window, then the window's; the window is empty after.
    void Submit();
    void Queue(Job job);
    void WaitForWriter();  // until nothing is queued
    void ThrowIfFailed();
    static void AddRange(std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t from,
                         uint64_t to);
    bool OverlapsPending(uint64_t from, uint64_t to);

    const std::string path_;
    fs::File& file_;
    fs::File direct_;
    std::vector<uint8_t*> buffers_;  // all of them, for freeing
    Window window_;                  // filled by the caller
    Job behind_;                     // writes behind the window, not yet queued

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;        // the front one is being written
    std::vector<uint8_t*> free_;  // buffers neither in the window nor queued
    bool stop_ = false;
    std::string error_;  // the first failure of the writer, reported by the caller's next call
    fs::FileError::Kind errorKind_ = fs::FileError::Kind::Other;
    std::thread writer_;
};

}  // namespace pst::ndb
