#include "mime/read_ahead.h"

#include <algorithm>

#include "mime/gmime_support.h"

namespace mime {

namespace {

// The bytes a message's content holds in memory (streamed values count nothing).
uint64_t HeldBytes(const pst::messaging::PropertySet& props) {
    uint64_t n = 0;
    for (const auto& v : props.values) n += v.Bytes().size();
    for (const auto& v : props.named) n += v.value.Bytes().size();
    return n;
}

uint64_t HeldBytes(const pst::messaging::MessageContent& content) {
    uint64_t n = HeldBytes(content.props);
    for (const auto& r : content.recipients) n += HeldBytes(r.props);
    for (const auto& a : content.attachments)
        n += HeldBytes(a.props) + (a.embedded ? HeldBytes(*a.embedded) : 0);
    return n;
}

}  // namespace

ReadAhead::ReadAhead(std::vector<std::string> paths, size_t depth, ImportOptions options,
                     uint64_t byteBudget, Importer importer)
    : paths_(std::move(paths)),
      depth_(std::max<size_t>(depth, 1)),
      options_(options),
      importer_(importer ? std::move(importer) : Importer(ImportMessageFile)),
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
            return stop_ || (std::max(at, next_) < next_ + depth_ && readyBytes_ < byteBudget_);
        });
        workerWaiting_ = false;
        at = std::max(at, next_);
        if (stop_ || at >= paths_.size()) return;
        const size_t position = at++;
        std::vector<pst::messaging::MessageContent> done = std::move(recycled_);
        recycled_.clear();
        recycledBytes_ = 0;
        lock.unlock();
        done.clear();  // freed by this thread, whose memory it is
        ImportResult result;
        try {
            result = importer_(paths_[position], options_);
        } catch (...) {
            result.error = "cannot import " + paths_[position];  // the caller may try again
        }
        lock.lock();
        if (position >= next_) {
            const uint64_t bytes = HeldBytes(result.content);
            ready_.push_back({position, bytes, std::move(result)});
            readyBytes_ += bytes;
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

void ReadAhead::recycle(pst::messaging::MessageContent content) {
    const uint64_t bytes = HeldBytes(content);
    std::lock_guard lock(mutex_);
    // Beyond half the budget the caller frees it itself (after the lock is released).
    if (recycledBytes_ + bytes > byteBudget_ / 2) return;
    recycledBytes_ += bytes;
    recycled_.push_back(std::move(content));
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
        readyBytes_ -= ready_.front().heldBytes;
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
