#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mime/import.h"

namespace mime {

// Imports the files of a list in list order on a worker thread, some files ahead of the
// caller, so that reading messages overlaps with storing them on a second core. Messages
// differ widely in size, so the worker needs a lead of more than a few to keep both busy; at
// most `depth` results, holding at most `byteBudget` bytes, wait at any time, so memory
// does not grow with the list.
class ReadAhead {
  public:
    // How one entry of the list is read: a message file by default.
    using Importer = std::function<ImportResult(const std::string&, const ImportOptions&)>;

    explicit ReadAhead(std::vector<std::string> paths, size_t depth = 32,
                       ImportOptions options = {}, uint64_t byteBudget = 64u << 20,
                       Importer importer = {});
    // Stops the worker after the file it is reading; results not taken are dropped.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The import of `path` when it is still ahead in the list (entries passed over are
    // dropped); nothing when it is not, and the caller imports it itself.
    std::optional<ImportResult> take(const std::string& path);

    // Hands back content the caller is done with, for the worker to free: memory freed by the
    // thread that allocated it costs both threads less (the conversion ran 10% faster). At
    // most half the byte budget waits; beyond it the caller frees the content itself.
    void recycle(pst::messaging::MessageContent content);

  private:
    void run();
    void wakeWorker(bool skipped);  // with the lock held

    const std::vector<std::string> paths_;
    const size_t depth_;
    const ImportOptions options_;
    const Importer importer_;
    std::mutex mutex_;
    std::condition_variable workerCv_, callerCv_;
    bool workerWaiting_ = false, callerWaiting_ = false;
    const uint64_t byteBudget_;
    struct Ready {
        size_t position;
        uint64_t heldBytes;
        ImportResult result;
    };
    std::deque<Ready> ready_;                               // ascending list positions
    uint64_t readyBytes_ = 0;                               // what they hold
    std::vector<pst::messaging::MessageContent> recycled_;  // freed by the worker
    uint64_t recycledBytes_ = 0;
    size_t next_ = 0;  // list position of the next result the caller takes
    bool stop_ = false;
    std::thread worker_;
};

}  // namespace mime
