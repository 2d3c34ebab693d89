#include "mime/read_ahead.h"

#include <algorithm>

#include "mime/gmime_support.h"

namespace mime {

ReadAhead::ReadAhead(std::vector<std::string> paths, size_t depth, ImportOptions options)
    : paths_(std::move(paths)), depth_(std::max<size_t>(depth, 1)), options_(options) {
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
        // Never behind the caller, never more than depth_ ahead of it.
        changed_.wait(lock, [&] { return stop_ || std::max(at, next_) < next_ + depth_; });
        at = std::max(at, next_);
        if (stop_ || at >= paths_.size()) return;
        const size_t position = at++;
        lock.unlock();
        ImportResult result;
        try {
            result = ImportMessageFile(paths_[position], options_);
        } catch (...) {
            result.error = "cannot import " + paths_[position];  // the caller may try again
        }
        lock.lock();
        if (position >= next_) ready_.emplace_back(position, std::move(result));
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
    while (!ready_.empty() && ready_.front().first < position) ready_.pop_front();
    changed_.notify_all();
    changed_.wait(lock, [&] { return !ready_.empty() && ready_.front().first == position; });
    ImportResult result = std::move(ready_.front().second);
    ready_.pop_front();
    next_ = position + 1;
    changed_.notify_all();
    return result;
}

}  // namespace mime
