#include "engine/keyed_queue.h"

namespace engine {

void KeyedQueue::Add(const std::string& value, const std::string& key) {
    auto [it, inserted] = index_.emplace(key, entries_.size());
    if (!inserted) throw DuplicateKey(key);
    entries_.push_back({key, value});
}

void KeyedQueue::Clear() {
    entries_.clear();
    index_.clear();
}

const std::string& KeyedQueue::Item(const std::string& key) const {
    auto it = index_.find(key);
    if (it == index_.end()) throw std::out_of_range("no entry with the key \"" + key + "\"");
    return entries_[it->second].value;
}

KeyedQueue& MessageQueue() {
    static KeyedQueue queue;
    return queue;
}

KeyedQueue& FolderQueue() {
    static KeyedQueue queue;
    return queue;
}

}  // namespace engine
