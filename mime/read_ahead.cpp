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
    changed_.notify_all();
    worker_.join();
}

void ReadAhead::run() {
    std::unique_lock lock(mutex_);
    size_t at = 0;
    while (true) {
        // Never behind the caller, never more than depth_ ahead of it, and never holding more
        // than the budget (a result waiting is always taken or dropped, so this ends).
        changed_.wait(lock, [&] {
            return stop_ ||
                   (std::max(at, next_) < next_ + depth_ && readyBytes_ < byteBudget_);
        });
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
        changed_.notify_all();
    }
}

std::optional<ImportResult> ReadAhead::take(const std::string& path) {
    std::unique_lock lock(mutex_);
    auto it = std::find(paths_.begin() + std::ptrdiff_t(std::min(next_, paths_.size())),
                        paths_.end(), path);
    if (it == paths_.end()) return std::nullopt;
    const size_t position = size_t(it - paths_.begin());
    next_ = position;
    auto drop = [&] {
        readyBytes_ -= ready_.front().fileBytes;
        ready_.pop_front();
    };
    while (!ready_.empty() && ready_.front().position < position) drop();
    changed_.notify_all();
    changed_.wait(lock, [&] { return !ready_.empty() && ready_.front().position == position; });
    ImportResult result = std::move(ready_.front().result);
    drop();
    next_ = position + 1;
    changed_.notify_all();
    return result;
}

}  // namespace mime
