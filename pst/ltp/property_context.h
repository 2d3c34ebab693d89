#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ltp/value_store.h"
#include "pst/ndb/node_database.h"

namespace pst::ltp {

// A property context: a heap (client signature 0xBC) whose user root is a BTH of
// property id -> {type, value or HNID}.
//
// It is bound to the node's database and to the node's subnode map, which the caller owns and
// which must outlive it: values too large for the heap become subnodes (type 0x1F) in that map.
// After changes the caller takes the data stream from Write(), writes the subnode map and puts
// the node before the next commit (blocks nothing refers to at commit are dropped). The object
// stays usable across commits.
class PropertyContext {
  public:
    // A new PC without properties.
    PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes);
    // The PC stored in the data stream `data`.
    PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes, ndb::Bid data);
    // A new PC holding `values`, not yet written.
    PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                    std::span<const PropertyValue> values);
    // The same for values held elsewhere, without copies of them.
    PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                    std::span<const PropertyValue* const> values);
    PropertyContext(const PropertyContext&) = delete;
    PropertyContext& operator=(const PropertyContext&) = delete;

    // Builds a complete PC holding `values` and returns its data stream.
    static ndb::Bid Write(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                          std::span<const PropertyValue> values);

    // Tags of all properties in ascending id order.
    std::vector<uint32_t> Tags() const;
    std::optional<uint32_t> TagOf(uint16_t id) const;
    // The value with this id read whole; nullopt when absent.
    std::optional<PropertyValue> Get(uint16_t id) const;
    std::vector<PropertyValue> GetAll() const;
    uint64_t ValueSize(uint16_t id) const;
    // Reads a value piece by piece (one data block at a time for values held in subnodes).
    void ReadChunks(uint16_t id, const std::function<void(std::span<const uint8_t>)>& sink) const;

    // Adds or replaces a property (by id; the type may change).
    void Set(const PropertyValue& value);
    // Removes a property; false when absent.
    bool Remove(uint16_t id);

    // The bytes of the data stream Write() gives for the PC as it is now (values held in
    // subnodes not included).
    uint64_t DataSize() const { return heap_.StreamSize(); }

    // Writes the changed heap blocks and returns the data stream.
    ndb::Bid Write();

    const Heap& GetHeap() const { return heap_; }

  private:
    struct Record {
        uint16_t type = 0;
        uint32_t value = 0;  // inline value, HID or HNID
    };
    std::optional<Record> GetRecord(uint16_t id) const;
    PropertyValue Decode(uint16_t id, const Record& r) const;
    void ReleaseValue(const Record& r);
    // Stores the value's bytes where its type keeps them; returns the record's value field.
    uint32_t StoreValue(const PropertyValue& value);
    // Stores `values` in a PC without properties.
    void Fill(std::span<const PropertyValue* const> values);

    ndb::NodeDatabase& db_;
    Heap heap_;
    ValueStore values_;
    BTree bth_;
};

}  // namespace pst::ltp
