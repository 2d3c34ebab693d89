#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/heap.h"

namespace pst::ltp {

// A BTree-on-heap: sorted records of a fixed-size key (2, 4, 8 or 16 bytes, compared as
// little-endian unsigned integers) and fixed-size data (1..32 bytes). Leaves and index levels
// are heap items of at most 3580 bytes. Every change rewrites only the items on one
// root-to-leaf path, so its cost grows with the depth, not the record count.
class BTree {
  public:
    // Allocates an empty tree's header item and returns its HID.
    static Hid Create(Heap& heap, uint8_t cbKey, uint8_t cbEnt);
    // The tree whose header is the item `header` of `heap` (which must outlive it).
    BTree(Heap& heap, Hid header);

    Hid Header() const { return header_; }
    uint8_t KeySize() const { return cbKey_; }
    uint8_t DataSize() const { return cbEnt_; }
    uint8_t IndexLevels() const { return levels_; }
    bool empty() const { return root_ == 0; }

    std::optional<std::vector<uint8_t>> Find(std::span<const uint8_t> key) const;
    // The same without a copy: the data stays valid until the heap next changes.
    std::optional<std::span<const uint8_t>> FindView(std::span<const uint8_t> key) const;
    // Inserts a record, or replaces the data of the record with this key.
    void Put(std::span<const uint8_t> key, std::span<const uint8_t> data);
    // Makes the tree hold exactly `records` (ascending keys, each key followed by its data),
    // which fit one leaf: an empty tree gets its leaf, a one-leaf tree of as many records has
    // it rewritten in place. A whole set of records at once, instead of a Put() each.
    void SetLeaf(std::span<const uint8_t> records);
    // Removes a record; false when there was none.
    bool Erase(std::span<const uint8_t> key);
    // Visits all records in ascending key order.
    void ForEach(const std::function<void(std::span<const uint8_t> key,
                                          std::span<const uint8_t> data)>& visit) const;
    size_t Count() const;

    // Integer keys and data as little-endian byte strings of the tree's sizes.
    std::optional<uint64_t> FindUint(uint64_t key) const;
    void PutUint(uint64_t key, uint64_t data);
    bool EraseUint(uint64_t key);

  private:
    struct Split {
        std::vector<uint8_t> key;
        Hid hid = 0;
    };
    struct Erased {
        bool found = false;
        bool emptied = false;
        Hid hid = 0;
        std::vector<uint8_t> firstKey;
    };

    int Compare(const uint8_t* a, std::span<const uint8_t> b) const;
    size_t RecordSize(int level) const { return cbKey_ + (level == 0 ? cbEnt_ : 4); }
    size_t MaxRecords(int level) const { return kMaxHeapItem / RecordSize(level); }
    // Index of the child to descend into: the last record whose key is <= key (0 if none).
    size_t ChildFor(const std::vector<uint8_t>& item, std::span<const uint8_t> key,
                    size_t recordSize) const;
    Hid InsertAt(Hid node, int level, std::span<const uint8_t> key, std::span<const uint8_t> data,
                 std::optional<Split>& split);
    Erased EraseAt(Hid node, int level, std::span<const uint8_t> key);
    void Visit(
        Hid node, int level,
        const std::function<void(std::span<const uint8_t>, std::span<const uint8_t>)>& f) const;
    void StoreHeader();
    void CheckKey(std::span<const uint8_t> key) const;

    Heap* heap_;
    Hid header_;
    uint8_t cbKey_ = 0;
    uint8_t cbEnt_ = 0;
    uint8_t levels_ = 0;
    Hid root_ = 0;
    // Working copies of the items on the path a Put() rewrites, one per level, kept so that
    // their memory is reused from one Put() to the next.
    std::vector<std::vector<uint8_t>> path_;
};

}  // namespace pst::ltp
