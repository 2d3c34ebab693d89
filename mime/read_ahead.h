#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mime/import.h"

namespace mime {

// Imports the files of a list in list order on a worker thread, a few files ahead of the
// caller, so that reading messages overlaps with storing them on a second core. At most
// `depth` results wait at any time, so memory does not grow with the list.
class ReadAhead {
  public:
    explicit ReadAhead(std::vector<std::string> paths, size_t depth = 4,
                       ImportOptions options = {});
    // Stops the worker after the file it is reading; results not taken are dropped.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The import of `path` when it is still ahead in the list (entries passed over are
    // dropped); nothing when it is not, and the caller imports it itself.
    std::optional<ImportResult> take(const std::string& path);

  private:
    void run();

    const std::vector<std::string> paths_;
    const size_t depth_;
    const ImportOptions options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<size_t, ImportResult>> ready_;  // ascending list positions
    size_t next_ = 0;  // list position of the next result the caller takes
    bool stop_ = false;
    std::thread worker_;
};

}  // namespace mime
