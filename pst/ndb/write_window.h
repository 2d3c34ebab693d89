#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pst::ndb {

// Gathers the writes that land in one page-aligned stretch of the file (the window) and hands
// the whole pages among them to a writer thread that writes them past the page cache
// (O_DIRECT); the few partly covered pages go through the ordinary descriptor. Data files are
// written almost front to back in blocks of a few KB, and through the page cache the kernel's
// copying and writeback cost more than everything else the writer does; written directly the
// disk works while the converter goes on with the next messages.
//
// Only bytes that were written are ever written back: a page is written directly only when
// every byte of it came through here, so whatever the file holds around a write stays.
// flush() makes everything written so far reach the file (and waits for the writer);
// durability still comes from the caller's fdatasync after it.
class WriteWindow {
  public:
    static constexpr uint64_t kPage = 4096;
    static constexpr uint64_t kSpan = 2u << 20;

    // A window over `fd` (open for writing), or null where the file system does not take
    // direct I/O; the caller then writes through `fd` as before.
    static std::unique_ptr<WriteWindow> Open(const std::string& path, int fd);
    // Writes what is pending, as best it can: errors are for flush() to report.
    ~WriteWindow();
    WriteWindow(const WriteWindow&) = delete;
    WriteWindow& operator=(const WriteWindow&) = delete;

    void write(uint64_t offset, std::span<const uint8_t> bytes);
    // Room for `size` bytes (at most kSpan - kPage) at `offset`, for the caller to fill before
    // its next call: a write without a copy. The bytes start undefined.
    std::span<uint8_t> place(uint64_t offset, size_t size);
    // Copies `out` from the window when it holds every byte of it; otherwise makes sure the
    // file holds whatever was written there (flushing when the range was touched) and
    // returns false, for the caller to read the file.
    bool read(uint64_t offset, std::span<uint8_t> out);
    void flush();
    // Whether written bytes are held that the file does not have yet.
    bool pending();

  private:
    struct Run {
        uint64_t offset;
        const uint8_t* data;
        size_t size;
    };
    struct Buffer {
        uint8_t* data = nullptr;
        uint64_t base = 0;  // file offset of data[0], page-aligned
        std::vector<std::pair<uint64_t, uint64_t>> ranges;  // written [from, to), sorted, apart
    };

    WriteWindow(std::string path, int fd, int directFd);
    void writerLoop();
    // Hands the window's whole pages to the writer and writes its partial pages; the window
    // is empty afterwards.
    void submit();
    void waitForWriter();
    void throwIfFailed();
    void writeBuffered(uint64_t offset, const uint8_t* data, size_t size);
    static void AddRange(std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t from,
                         uint64_t to);
    bool overlapsPending(uint64_t from, uint64_t to);

    const std::string path_;
    const int fd_;
    const int directFd_;
    Buffer window_;  // filled by the caller
    Buffer spare_;   // the writer's, while it writes it

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Run> job_;         // the writer's current work, empty when idle
    uint64_t jobFrom_ = 0, jobTo_ = 0;  // the file range the job may touch
    bool busy_ = false;
    bool stop_ = false;
    std::string error_;  // the first failure of the writer, reported by the caller's next call
    std::thread writer_;
};

}  // namespace pst::ndb
