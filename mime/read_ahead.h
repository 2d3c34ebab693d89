#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mime/import.h"

namespace mime {

// Imports the files of a list on worker threads, some files ahead of the caller, so that
// reading messages overlaps with storing them on other cores. The workers take the files in
// list order and the caller gets the results in list order, whichever worker finishes first.
// Messages differ widely in size, so the workers need a lead of more than a few to keep the
// caller busy; at most `depth` results, holding at most `byteBudget` bytes, wait at any time
// (besides the one each worker is reading), so memory does not grow with the list.
class ReadAhead {
  public:
    // How one entry of the list is read: a message file by default. Called from several
    // threads at once when there are several workers.
    using Importer = std::function<ImportResult(const std::string&, const ImportOptions&)>;

    explicit ReadAhead(std::vector<std::string> paths, size_t depth = 32,
                       ImportOptions options = {}, uint64_t byteBudget = 64u << 20,
                       Importer importer = {}, size_t workers = 1);
    // Stops the workers after the files they are reading; results not taken are dropped.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // More files at the end of the list: the workers go on with them without a pause.
    void append(std::vector<std::string> paths);

    // The import of `path` when it is still ahead in the list (entries passed over are
    // dropped); nothing when it is not, and the caller imports it itself.
    std::optional<ImportResult> take(const std::string& path);

    // Hands back content the caller is done with, for a worker to free: memory freed by a
    // reading thread costs the caller less (the conversion ran 10% faster). At
    // most half the byte budget waits; beyond it the caller frees the content itself.
    void recycle(pst::messaging::MessageContent content);

  private:
    void run();
    bool mayStart() const;  // whether a worker may read another file now (with the lock held)
    static constexpr size_t kWakeBatch = 16;
    void wakeWorkers(bool skipped);  // with the lock held

    std::deque<std::string> paths_;  // the list from position base_ on (taken ones go)
    size_t base_ = 0;
    const size_t depth_;
    const ImportOptions options_;
    const Importer importer_;
    std::mutex mutex_;
    std::condition_variable workerCv_, callerCv_;
    size_t workersWaiting_ = 0;
    bool callerWaiting_ = false;
    const uint64_t byteBudget_;
    struct Ready {
        uint64_t heldBytes;
        ImportResult result;
    };
    std::map<size_t, Ready> ready_;                         // by list position
    uint64_t readyBytes_ = 0;                               // what they hold
    std::vector<pst::messaging::MessageContent> recycled_;  // freed by the worker
    uint64_t recycledBytes_ = 0;
    size_t next_ = 0;   // list position of the next result the caller takes
    size_t start_ = 0;  // list position of the next file a worker reads
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace mime
