#include "pst/ndb/write_window.h"

#include <algorithm>
#include <cstring>

#include "pst/ndb/errors.h"

namespace pst::ndb {
namespace {

constexpr uint64_t AlignDown(uint64_t x) {
    return x & ~(WriteWindow::kPage - 1);
}
constexpr uint64_t AlignUp(uint64_t x) {
    return AlignDown(x + WriteWindow::kPage - 1);
}

static_assert(WriteWindow::kPage % fs::File::kUnbufferedAlignment == 0);

uint8_t* AllocateSpan() {
    return static_cast<uint8_t*>(fs::AlignedAlloc(WriteWindow::kPage, WriteWindow::kSpan));
}

}  // namespace

std::unique_ptr<WriteWindow> WriteWindow::Open(const std::string& path, fs::File& file) {
    std::optional<fs::File> direct = file.ReopenUnbuffered();
    if (!direct) return nullptr;
    return std::unique_ptr<WriteWindow>(new WriteWindow(path, file, std::move(*direct)));
}

WriteWindow::WriteWindow(std::string path, fs::File& file, fs::File direct)
    : path_(std::move(path)), file_(file), direct_(std::move(direct)) {
    try {
        for (size_t i = 0; i < kBuffers; ++i) buffers_.push_back(AllocateSpan());
    } catch (...) {
        for (uint8_t* b : buffers_) fs::AlignedFree(b);
        throw;
    }
    window_.data = buffers_[0];
    free_.assign(buffers_.begin() + 1, buffers_.end());
    writer_ = std::thread([this] { WriterLoop(); });
}

WriteWindow::~WriteWindow() {
    try {
        Submit();
    } catch (...) {
        // Closing without a flush: what was not written belongs to no commit.
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    writer_.join();  // the writer finishes the queue first
    for (uint8_t* b : buffers_) fs::AlignedFree(b);
}

void WriteWindow::Write(uint64_t offset, std::span<const uint8_t> bytes) {
    ThrowIfFailed();
    while (!bytes.empty()) {
        if (window_.ranges.empty()) window_.base = AlignDown(offset);
        const uint64_t end = window_.base + kSpan;
        if (offset >= window_.base && offset < end) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), end - offset));
            std::memcpy(window_.data + (offset - window_.base), bytes.data(), n);
            AddRange(window_.ranges, offset, offset + n);
            offset += n;
            bytes = bytes.subspan(n);
            if (!bytes.empty()) Submit();  // the rest starts the next window
            continue;
        }
        if (offset < window_.base && offset + bytes.size() <= window_.base) {
            // Behind the window (B-tree and map pages at a commit, the header, a reused hole):
            // kept aside and queued before the window, so it reaches the file after everything
            // written before it and before anything written after it.
            behind_.pieces.push_back({offset, nullptr, bytes.size(), false});
            behind_.bytes.insert(behind_.bytes.end(), bytes.begin(), bytes.end());
            AddRange(behind_.ranges, offset, offset + bytes.size());
            if (behind_.bytes.size() >= kSpan) Submit();
            return;
        }
        Submit();  // beyond the window, or reaching into it from behind: start afresh
    }
}

std::span<uint8_t> WriteWindow::Place(uint64_t offset, size_t size) {
    ThrowIfFailed();
    if (size > kSpan - kPage) {
        throw NdbError(path_ + ": a placed write of " + std::to_string(size) +
                       " bytes exceeds the write window");
    }
    if (!window_.ranges.empty() && (offset < window_.base || offset + size > window_.base + kSpan))
        Submit();
    if (window_.ranges.empty()) window_.base = AlignDown(offset);
    AddRange(window_.ranges, offset, offset + size);
    return {window_.data + (offset - window_.base), size};
}

bool WriteWindow::Read(uint64_t offset, std::span<uint8_t> out) {
    ThrowIfFailed();
    const uint64_t end = offset + out.size();
    const bool behind = std::any_of(behind_.ranges.begin(), behind_.ranges.end(),
                                    [&](auto& r) { return r.first < end && offset < r.second; });
    if (!behind) {
        for (const auto& [from, to] : window_.ranges) {
            if (from <= offset && end <= to) {
                std::memcpy(out.data(), window_.data + (offset - window_.base), out.size());
                return true;
            }
        }
    }
    if (OverlapsPending(offset, end)) Flush();
    return false;
}

void WriteWindow::Flush() {
    Submit();
    WaitForWriter();
    ThrowIfFailed();
}

bool WriteWindow::Pending() {
    if (!window_.ranges.empty() || !behind_.pieces.empty()) return true;
    std::lock_guard lock(mutex_);
    return !jobs_.empty();
}

void WriteWindow::Submit() {
    if (!behind_.pieces.empty()) {
        size_t at = 0;
        for (Piece& p : behind_.pieces) {
            p.data = behind_.bytes.data() + at;  // the vector no longer grows
            at += p.size;
        }
        Queue(std::exchange(behind_, Job{}));
    }
    if (window_.ranges.empty()) return;
    Job job;
    auto at = [&](uint64_t offset) { return window_.data + (offset - window_.base); };
    for (const auto& [from, to] : window_.ranges) {
        const uint64_t first = AlignUp(from), last = AlignDown(to);
        if (first >= last) {
            job.pieces.push_back({from, at(from), static_cast<size_t>(to - from), false});
            continue;
        }
        if (from < first)
            job.pieces.push_back({from, at(from), static_cast<size_t>(first - from), false});
        job.pieces.push_back({first, at(first), static_cast<size_t>(last - first), true});
        if (last < to)
            job.pieces.push_back({last, at(last), static_cast<size_t>(to - last), false});
    }
    job.ranges = std::move(window_.ranges);
    window_.ranges.clear();
    job.buffer = window_.data;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !free_.empty(); });
    window_.data = free_.back();
    free_.pop_back();
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void WriteWindow::Queue(Job job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void WriteWindow::WriterLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, and nothing left to write
        // The job stays queued while it is written, so readers of its ranges wait for it.
        const std::vector<Piece> pieces = jobs_.front().pieces;
        lock.unlock();
        std::string failure;
        fs::FileError::Kind kind = fs::FileError::Kind::Other;
        for (const Piece& p : pieces) {
            try {
                WriteOut(p);
            } catch (const fs::FileError& e) {
                if (!failure.empty()) continue;
                failure = path_ + ": write failed: " + e.what();
                kind = e.GetKind();
            }
        }
        lock.lock();
        if (!failure.empty() && error_.empty()) {
            error_ = failure;
            errorKind_ = kind;
        }
        if (jobs_.front().buffer) free_.push_back(jobs_.front().buffer);
        jobs_.pop_front();
        changed_.notify_all();
    }
}

void WriteWindow::WriteOut(const Piece& p) {
    if (p.direct) {
        try {
            direct_.WriteAt(p.offset, p.data, p.size);
            return;
        } catch (const fs::FileError& e) {
            // A file system may open for unbuffered writes and still refuse a transfer.
            if (e.GetKind() != fs::FileError::Kind::Unsupported) throw;
        }
    }
    file_.WriteAt(p.offset, p.data, p.size);
}

void WriteWindow::WaitForWriter() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.empty(); });
}

void WriteWindow::ThrowIfFailed() {
    std::lock_guard lock(mutex_);
    if (!error_.empty()) throw NdbError(error_, NdbError::Cause::File, errorKind_);
}

void WriteWindow::AddRange(std::vector<std::pair<uint64_t, uint64_t>>& ranges, uint64_t from,
                           uint64_t to) {
    // Almost always the end of the last range grows.
    if (!ranges.empty() && ranges.back().first <= from && from <= ranges.back().second) {
        ranges.back().second = std::max(ranges.back().second, to);
        return;
    }
    auto it = std::lower_bound(ranges.begin(), ranges.end(), std::make_pair(from, from));
    if (it != ranges.begin() && std::prev(it)->second >= from) --it;
    // `it` is the first range that ends at or after `from`: merge every range it touches.
    auto last = it;
    while (last != ranges.end() && last->first <= to) {
        from = std::min(from, last->first);
        to = std::max(to, last->second);
        ++last;
    }
    it = ranges.erase(it, last);
    ranges.insert(it, {from, to});
}

bool WriteWindow::OverlapsPending(uint64_t from, uint64_t to) {
    auto touches = [&](const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
        return std::any_of(ranges.begin(), ranges.end(),
                           [&](auto& r) { return r.first < to && from < r.second; });
    };
    if (touches(window_.ranges) || touches(behind_.ranges)) return true;
    std::lock_guard lock(mutex_);
    return std::any_of(jobs_.begin(), jobs_.end(), [&](const Job& j) { return touches(j.ranges); });
}

}  // namespace pst::ndb
