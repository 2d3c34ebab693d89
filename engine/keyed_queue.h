#pragma once

#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// An ordered list of unique text keys with text values, read in insertion order.
//
// A scan may queue hundreds of thousands of paths, so the texts share one buffer and the key
// index is an open-addressing table of entry numbers: the texts' own size plus about 30 bytes
// per entry, where two strings and a hash node each took some 200.
class KeyedQueue {
  public:
    struct Entry {
        std::string_view key;
        std::string_view value;
    };

    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        Iterator(const KeyedQueue& q, size_t i) : q_(&q), i_(i) {}
        Entry operator*() const { return q_->At(i_); }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return i_ == other.i_; }

      private:
        const KeyedQueue* q_;
        size_t i_;
    };

    // Throws DuplicateKey when the key is present already.
    void Add(std::string_view value, std::string_view key);
    // Empties the queue and gives its memory back.
    void Clear();
    size_t Count() const { return slots_.size(); }
    bool Contains(std::string_view key) const { return Find(key) != kNone; }
    std::string_view Item(std::string_view key) const;
    // Entry `i` in insertion order; valid until the next Add or Clear.
    Entry At(size_t i) const;
    std::string_view Value(size_t i) const { return At(i).value; }

    Iterator begin() const { return {*this, 0}; }
    Iterator end() const { return {*this, Count()}; }

  private:
    struct Slot {
        uint64_t begin = 0;  // key then value in text_
        uint32_t keySize = 0;
        uint32_t valueSize = 0;
    };
    static constexpr uint32_t kNone = UINT32_MAX;

    std::string_view KeyAt(size_t i) const {
        return {text_.data() + slots_[i].begin, slots_[i].keySize};
    }
    uint32_t Find(std::string_view key) const;
    void Rehash(size_t buckets);

    std::string text_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> index_;  // entry number + 1 per bucket, 0 when free; at most half full
};

struct DuplicateKey : std::invalid_argument {
    explicit DuplicateKey(std::string_view key)
        : std::invalid_argument("the key \"" + std::string(key) + "\" is already in the queue") {}
};

}  // namespace engine
