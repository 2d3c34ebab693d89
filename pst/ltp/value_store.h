#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ndb/node_database.h"

namespace pst::ltp {

// Where a property type's value lives in a PC record or a TC cell.
enum class ValueKind {
    kInline,    // in the 4-byte record field (PC) or the row slot itself
    kFixedHid,  // PC only: an exactly sized heap item (8 and 16-byte types)
    kHnid,      // variable size: heap item, or a subnode when large; 0 when empty
};

ValueKind PcValueKind(uint16_t type);
// Bytes a value of this type takes inline (1, 2, 4 or 8), 0 if it never goes inline.
size_t InlineSize(uint16_t type);
// Throws when `bytes` cannot be a value of `type` (wrong fixed size, bad MV layout, odd UTF-16).
void CheckValueBytes(uint32_t tag, std::span<const uint8_t> bytes);

// Variable-size values as HNIDs on one node: a heap item when it fits, otherwise a subnode of
// type 0x1F in `subnodes` holding the bytes as a data stream. The caller owns the subnode map
// and writes it back.
class ValueStore {
  public:
    ValueStore(Heap& heap, ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes)
        : heap_(heap), db_(db), subnodes_(subnodes) {}

    // Stores a value (bytes or producer) and returns its HNID; 0 for an empty value.
    uint32_t Store(const PropertyValue& value);
    // Frees the heap item or drops the subnode entry an HNID refers to.
    void Release(uint32_t hnid);
    std::vector<uint8_t> Load(uint32_t hnid) const;
    uint64_t size(uint32_t hnid) const;
    // Hands the value to `sink` piece by piece; a subnode value one data block at a time.
    void ReadChunks(uint32_t hnid, const std::function<void(std::span<const uint8_t>)>& sink) const;

    // A subnode NID of type 0x1F not yet used in the map. Values start at index 0x400 so they
    // never take 0x3F, which a table keeps for its row matrix.
    ndb::Nid NewValueNid() const;

  private:
    uint32_t StoreStream(const PropertyValue& value);
    const ndb::SubnodeEntry& Entry(uint32_t nid) const;

    Heap& heap_;
    ndb::NodeDatabase& db_;
    ndb::SubnodeMap& subnodes_;
};

// Reads a data stream one block at a time, so large values never sit in memory whole.
class StreamReader {
  public:
    StreamReader(const ndb::NodeDatabase& db, ndb::Bid data);
    uint64_t size() const { return size_; }
    // The next block's bytes; false at the end.
    bool Next(std::vector<uint8_t>& chunk);

  private:
    const ndb::NodeDatabase& db_;
    std::vector<ndb::Bid> blocks_;
    size_t index_ = 0;
    uint64_t size_ = 0;
};

}  // namespace pst::ltp
