#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "pst/ndb/node_database.h"

namespace pst::ltp {

// Heap item id: hidType (5 bits, 0), hidIndex (11 bits, 1-based), hidBlockIndex (16 bits).
using Hid = uint32_t;

constexpr Hid MakeHid(uint32_t blockIndex, uint32_t index) {
    return (blockIndex << 16) | (index << 5);
}
constexpr uint32_t HidBlockOf(Hid hid) {
    return hid >> 16;
}
constexpr uint32_t HidIndexOf(Hid hid) {
    return (hid >> 5) & 0x7FF;
}

// An HNID is an HID when its NID type bits are 0 (kNidTypeHid), else a subnode NID.
constexpr bool IsHid(uint32_t hnid) {
    return (hnid & 0x1F) == 0;
}

constexpr size_t kMaxHeapItem = 3580;
constexpr size_t kMaxHeapBlocks = 65536;

enum ClientSig : uint8_t {
    kClientSigTc = 0x7C,
    kClientSigBth = 0xB5,
    kClientSigPc = 0xBC,
};

// A heap-on-node held in memory block by block. Blocks are read from the node's data stream
// only when touched, and Write() gives new data blocks only to blocks that changed, so work per
// change does not grow with the heap. As in Outlook's files, every block but the last is
// stored padded to a full 8176 bytes.
class Heap {
  public:
    // A new heap of one block holding no items.
    explicit Heap(uint8_t clientSig);
    // The heap stored in the data stream `data` (a block or a data tree).
    Heap(const ndb::NodeDatabase& db, ndb::Bid data);

    uint8_t ClientSig() const { return clientSig_; }
    Hid UserRoot() const { return userRoot_; }
    void SetUserRoot(Hid hid);

    // A new item holding `bytes` (1..kMaxHeapItem bytes).
    Hid Allocate(std::span<const uint8_t> bytes);
    // The bytes of an item; throws for an HID that does not name a live item.
    std::vector<uint8_t> Read(Hid hid) const;
    // The same without a copy; valid until the heap next changes.
    std::span<const uint8_t> View(Hid hid) const { return Item(hid); }
    size_t ItemSize(Hid hid) const;
    // Replaces an item's bytes. The item keeps its HID when its block has room, otherwise it
    // moves and the new HID is returned: callers must store the result.
    Hid Replace(Hid hid, std::span<const uint8_t> bytes);
    void Free(Hid hid);

    size_t BlockCount() const { return blocks_.size(); }
    // Live items over all blocks (reads every block).
    size_t ItemCount() const;
    bool Modified() const;
    // The bytes of the data stream Write() gives for the heap as it is now.
    uint64_t StreamSize() const;

    // Writes changed blocks and returns the data stream (a block, or a data tree over the
    // blocks). Unchanged blocks keep their BIDs. The heap stays usable afterwards.
    ndb::Bid Write(ndb::NodeDatabase& db);

  private:
    struct Block {
        ndb::Bid bid = 0;  // stored block, 0 when new
        bool loaded = false;
        bool dirty = false;
        bool padded = false;  // stored as a full 8176-byte block (every block but the last)
        // The items' bytes one after another, as the block stores them: item i+1 ends at
        // ends[i]. A free item is empty.
        std::vector<uint8_t> bytes;
        std::vector<uint16_t> ends;
        size_t frees = 0;              // free items among them
        std::vector<uint8_t> fillMap;  // HNBITMAPHDR fill map (bitmap blocks only)

        size_t Count() const { return ends.size(); }
        size_t Begin(size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
        size_t SizeOf(size_t i) const { return ends[i] - Begin(i); }
        std::span<const uint8_t> ItemAt(size_t i) const {
            return {bytes.data() + Begin(i), SizeOf(i)};
        }
        // Makes item i hold `data`, moving the items after it.
        void SetItem(size_t i, std::span<const uint8_t> data);
    };

    static size_t HeaderSize(size_t blockIndex);
    static size_t BlockSize(size_t blockIndex, const Block& b, size_t extraItems,
                            size_t extraBytes);
    Block& Load(size_t blockIndex) const;
    void Parse(size_t blockIndex, Block& b, const std::vector<uint8_t>& raw) const;
    // The block's stored bytes, into `out` (replacing what it held).
    void Serialize(size_t blockIndex, const Block& b, std::vector<uint8_t>& out) const;
    std::span<const uint8_t> Item(Hid hid) const;
    bool Fits(size_t blockIndex, size_t bytes) const;
    Hid Place(size_t blockIndex, std::span<const uint8_t> bytes);
    void SetFillLevel(size_t blockIndex);
    static uint8_t FillLevel(size_t freeBytes);

    const ndb::NodeDatabase* db_ = nullptr;
    uint8_t clientSig_ = 0;
    Hid userRoot_ = 0;
    bool headerDirty_ = false;
    ndb::Bid stream_ = 0;  // the stream Write() produced or the heap was read from
    mutable std::vector<Block> blocks_;
    std::vector<uint8_t> fillLevels_;  // one nibble per block, as last stored or computed
    std::vector<uint8_t> image_;       // Write()'s block image, reused from block to block
};

}  // namespace pst::ltp
