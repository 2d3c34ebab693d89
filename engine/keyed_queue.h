#pragma once

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace engine {

// An ordered list of unique text keys with text values, read in insertion order.
class KeyedQueue {
public:
    struct Entry {
        std::string key;
        std::string value;
    };

    // Throws DuplicateKey when the key is present already.
    void Add(const std::string& value, const std::string& key);
    void Clear();
    size_t Count() const { return entries_.size(); }
    bool Contains(const std::string& key) const { return index_.count(key) != 0; }
    const std::string& Item(const std::string& key) const;
    const std::vector<Entry>& Entries() const { return entries_; }

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> index_;
};

struct DuplicateKey : std::invalid_argument {
    explicit DuplicateKey(const std::string& key)
        : std::invalid_argument("the key \"" + key + "\" is already in the queue") {}
};

// The program-wide queues the scan fills and the conversion reads: full paths of queued files
// under keys "K<n>", and of queued subfolders under keys "Z<n>".
KeyedQueue& MessageQueue();
KeyedQueue& FolderQueue();

}  // namespace engine
