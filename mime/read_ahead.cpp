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
                     uint64_t byteBudget, Importer importer, size_t workers)
    : paths_(std::make_move_iterator(paths.begin()), std::make_move_iterator(paths.end())),
      depth_(std::max<size_t>(depth, 1)),
      options_(options),
      importer_(importer ? std::move(importer) : Importer(ImportMessageFile)),
      byteBudget_(byteBudget) {
    EnsureGMime();  // once, before a second thread can get there
    workers = std::clamp<size_t>(workers, 1, std::max<size_t>(paths_.size(), 1));
    for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { run(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workerCv_.notify_all();
    for (auto& worker : workers_) worker.join();
}

void ReadAhead::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        // Never behind the caller, never more than depth_ ahead of it, and never holding more
        // than the budget. This ends: when the caller waits for a file no worker has started,
        // no result after it can be waiting, so nothing holds the budget.
        ++workersWaiting_;
        workerCv_.wait(lock, [&] { return stop_ || mayStart(); });
        --workersWaiting_;
        if (stop_) return;
        start_ = std::max(start_, next_);
        const size_t position = start_++;
        const std::string path = paths_[position - base_];  // the caller may drop it meanwhile
        std::vector<pst::messaging::MessageContent> done = std::move(recycled_);
        recycled_.clear();
        recycledBytes_ = 0;
        lock.unlock();
        done.clear();  // freed by a reading thread
        ImportResult result;
        try {
            result = importer_(path, options_);
        } catch (...) {
            result.error = "cannot import " + path;  // the caller may try again
        }
        lock.lock();
        if (position >= next_) {
            const uint64_t bytes = HeldBytes(result.content);
            ready_.emplace(position, Ready{bytes, std::move(result)});
            readyBytes_ += bytes;
        }
        // A waiting caller is woken once a few results are there for it, or once no more can
        // come soon: waking it for every message cost both threads more than the message.
        if (callerWaiting_ && !ready_.empty() && ready_.begin()->first == next_ &&
            (ready_.size() >= kWakeBatch || !mayStart()))
            callerCv_.notify_one();
    }
}

bool ReadAhead::mayStart() const {
    const size_t from = std::max(start_, next_);
    return from < base_ + paths_.size() && from < next_ + depth_ && readyBytes_ < byteBudget_;
}

// Workers are woken only once the caller has taken half of their lead (or passed over
// entries), not at every message: a wake-up costs both sides more than a message's
// bookkeeping.
void ReadAhead::wakeWorkers(bool skipped) {
    if (workersWaiting_ > 0 && (skipped || ready_.size() <= depth_ / 2 || ready_.empty()))
        workerCv_.notify_all();
}

void ReadAhead::recycle(pst::messaging::MessageContent content) {
    const uint64_t bytes = HeldBytes(content);
    std::lock_guard lock(mutex_);
    // Beyond half the budget the caller frees it itself (after the lock is released).
    if (recycledBytes_ + bytes > byteBudget_ / 2) return;
    recycledBytes_ += bytes;
    recycled_.push_back(std::move(content));
}

void ReadAhead::append(std::vector<std::string> paths) {
    std::lock_guard lock(mutex_);
    paths_.insert(paths_.end(), std::make_move_iterator(paths.begin()),
                  std::make_move_iterator(paths.end()));
    if (workersWaiting_ > 0) workerCv_.notify_all();
}

std::optional<ImportResult> ReadAhead::take(const std::string& path) {
    std::unique_lock lock(mutex_);
    // Entries before next_ were taken or passed over: they are not looked at again.
    while (base_ < next_ && !paths_.empty()) {
        paths_.pop_front();
        ++base_;
    }
    auto it = std::find(paths_.begin(), paths_.end(), path);
    if (it == paths_.end()) return std::nullopt;
    const size_t position = base_ + size_t(it - paths_.begin());
    const bool skipped = position > next_;
    next_ = position;
    auto drop = [&](std::map<size_t, Ready>::iterator at) {
        readyBytes_ -= at->second.heldBytes;
        return ready_.erase(at);
    };
    for (auto r = ready_.begin(); r != ready_.end() && r->first < position;) r = drop(r);
    wakeWorkers(skipped);
    callerWaiting_ = true;
    callerCv_.wait(lock, [&] { return !ready_.empty() && ready_.begin()->first == position; });
    callerWaiting_ = false;
    ImportResult result = std::move(ready_.begin()->second.result);
    drop(ready_.begin());
    next_ = position + 1;
    wakeWorkers(false);
    return result;
}

}  // namespace mime
