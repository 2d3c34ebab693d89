#include "mime/read_ahead.h"

#include <algorithm>
#include <filesystem>

#include "mime/gmime_support.h"

namespace mime {

ReadAhead::ReadAhead(std::vector<std::string> paths, size_t depth, ImportOptions options,
                     uint64_t byteBudget)
    : paths_(std::move(paths)),
      depth_(std::max<size_t>(depth, 1)),
      options_(options),
      byteBudget_(byteBudget) {
    EnsureGMime();  // once, before a second thread can get there
    worker_ = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workerCv_.notify_all();
    worker_.join();
}

void ReadAhead::run() {
    std::unique_lock lock(mutex_);
    size_t at = 0;
    while (true) {
        // Never behind the caller, never more than depth_ ahead of it, and never holding more
        // than the budget (a result waiting is always taken or dropped, so this ends).
        workerWaiting_ = true;
        workerCv_.wait(lock, [&] {
            return stop_ ||
                   (std::max(at, next_) < next_ + depth_ && readyBytes_ < byteBudget_);
        });
        workerWaiting_ = false;
        at = std::max(at, next_);
        if (stop_ || at >= paths_.size()) return;
        const size_t position = at++;
        lock.unlock();
        ImportResult result;
        std::error_code sizeError;
        const uint64_t fileBytes = std::filesystem::file_size(paths_[position], sizeError);
        try {
            result = ImportMessageFile(paths_[position], options_);
        } catch (...) {
            result.error = "cannot import " + paths_[position];  // the caller may try again
        }
        lock.lock();
        if (position >= next_) {
            ready_.push_back({position, sizeError ? 0 : fileBytes, std::move(result)});
            readyBytes_ += ready_.back().fileBytes;
        }
        if (callerWaiting_) callerCv_.notify_one();
    }
}

// The worker is woken only once the caller has taken half of its lead (or passed over
// entries), not at every message: a wake-up costs both threads more than a message's
// bookkeeping.
void ReadAhead::wakeWorker(bool skipped) {
    if (workerWaiting_ && (skipped || ready_.size() <= depth_ / 2 || ready_.empty()))
        workerCv_.notify_one();
}

std::optional<ImportResult> ReadAhead::take(const std::string& path) {
    std::unique_lock lock(mutex_);
    auto it = std::find(paths_.begin() + std::ptrdiff_t(std::min(next_, paths_.size())),
                        paths_.end(), path);
    if (it == paths_.end()) return std::nullopt;
    const size_t position = size_t(it - paths_.begin());
    const bool skipped = position > next_;
    next_ = position;
    auto drop = [&] {
        readyBytes_ -= ready_.front().fileBytes;
        ready_.pop_front();
    };
    while (!ready_.empty() && ready_.front().position < position) drop();
    wakeWorker(skipped);
    callerWaiting_ = true;
    callerCv_.wait(lock, [&] { return !ready_.empty() && ready_.front().position == position; });
    callerWaiting_ = false;
    ImportResult result = std::move(ready_.front().result);
    drop();
    next_ = position + 1;
    wakeWorker(false);
    return result;
}

}  // namespace mime
