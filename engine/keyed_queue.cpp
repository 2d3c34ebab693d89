#include "engine/keyed_queue.h"

#include <functional>

namespace engine {

void KeyedQueue::Add(std::string_view value, std::string_view key) {
    if (Find(key) != kNone) throw DuplicateKey(key);
    if (slots_.size() >= UINT32_MAX - 1) throw std::length_error("the queue is full");
    if ((slots_.size() + 1) * 2 > index_.size()) Rehash(index_.empty() ? 64 : index_.size() * 2);
    slots_.push_back({text_.size(), uint32_t(key.size()), uint32_t(value.size())});
    text_.append(key);
    text_.append(value);
    const size_t mask = index_.size() - 1;
    for (size_t b = std::hash<std::string_view>{}(key)&mask;; b = (b + 1) & mask) {
        if (index_[b] == 0) {
            index_[b] = uint32_t(slots_.size());
            break;
        }
    }
}

void KeyedQueue::Clear() {
    text_ = {};
    slots_ = {};
    index_ = {};
}

uint32_t KeyedQueue::Find(std::string_view key) const {
    if (index_.empty()) return kNone;
    const size_t mask = index_.size() - 1;
    for (size_t b = std::hash<std::string_view>{}(key)&mask; index_[b] != 0; b = (b + 1) & mask) {
        if (KeyAt(index_[b] - 1) == key) return index_[b] - 1;
    }
    return kNone;
}

void KeyedQueue::Rehash(size_t buckets) {
    index_.assign(buckets, 0);
    const size_t mask = buckets - 1;
    for (size_t i = 0; i < slots_.size(); ++i) {
        size_t b = std::hash<std::string_view>{}(KeyAt(i)) & mask;
        while (index_[b] != 0) b = (b + 1) & mask;
        index_[b] = uint32_t(i + 1);
    }
}

KeyedQueue::Entry KeyedQueue::At(size_t i) const {
    if (i >= slots_.size())
        throw std::out_of_range("queue entry " + std::to_string(i) + " of " +
                                std::to_string(slots_.size()));
    const Slot& s = slots_[i];
    return {KeyAt(i), {text_.data() + s.begin + s.keySize, s.valueSize}};
}

std::string_view KeyedQueue::Item(std::string_view key) const {
    const uint32_t i = Find(key);
    if (i == kNone) throw std::out_of_range("no entry with the key \"" + std::string(key) + "\"");
    return At(i).value;
}

}  // namespace engine
