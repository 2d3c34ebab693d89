#include "pst/ltp/heap.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pst/ltp/byte_io.h"

namespace pst::ltp {
namespace {

constexpr uint8_t kHnSig = 0xEC;
constexpr size_t kMaxItemsPerBlock = 0x7FF;  // hidIndex has 11 bits
constexpr size_t kFirstBitmapBlock = 8;
constexpr size_t kBlocksPerBitmap = 128;

bool IsBitmapBlock(size_t i) {
    return i >= kFirstBitmapBlock && (i - kFirstBitmapBlock) % kBlocksPerBitmap == 0;
}

// The block whose header holds the fill level of block i, and the nibble index there.
size_t FillHolder(size_t i) {
    if (i < kFirstBitmapBlock) return 0;
    return kFirstBitmapBlock + (i - kFirstBitmapBlock) / kBlocksPerBitmap * kBlocksPerBitmap;
}

std::string HidText(Hid hid) {
    return "HID " + Hex(hid);
}

}  // namespace

Heap::Heap(uint8_t clientSig) : clientSig_(clientSig) {
    Block b;
    b.loaded = true;
    b.dirty = true;
    b.fillMap.assign(4, 0);
    blocks_.push_back(std::move(b));
}

Heap::Heap(const ndb::NodeDatabase& db, ndb::Bid data) : db_(&db), stream_(data) {
    if (data == 0) throw std::runtime_error("heap: node has no data stream");
    auto leaves = db.DataBlocks(data);
    if (leaves.empty())
        throw std::runtime_error("heap: data stream " + Hex(data) + " has no blocks");
    if (leaves.size() > kMaxHeapBlocks) throw std::runtime_error("heap: more than 65536 blocks");
    blocks_.resize(leaves.size());
    for (size_t i = 0; i < leaves.size(); ++i) {
        blocks_[i].bid = leaves[i];
        blocks_[i].padded = i + 1 < leaves.size();
    }
    auto raw = db.ReadBlock(leaves[0]);
    if (raw.size() < 12 || raw[2] != kHnSig) {
        throw std::runtime_error("heap: block " + Hex(leaves[0]) + " is not a heap (bSig)");
    }
    clientSig_ = raw[3];
    userRoot_ = Get32(raw, 4);
    Parse(0, blocks_[0], raw);
}

size_t Heap::HeaderSize(size_t blockIndex) {
    if (blockIndex == 0) return 12;
    return IsBitmapBlock(blockIndex) ? 66 : 2;
}

size_t Heap::BlockSize(size_t blockIndex, const Block& b, size_t extraItems, size_t extraBytes) {
    size_t end = HeaderSize(blockIndex) + b.bytes.size() + extraBytes;
    end += end & 1;
    return end + 4 + 2 * (b.Count() + extraItems + 1);
}

void Heap::Block::SetItem(size_t i, std::span<const uint8_t> data) {
    // Bytes of this heap are copied first: making room may move them.
    std::vector<uint8_t> own;
    if (!data.empty() && data.data() >= bytes.data() && data.data() < bytes.data() + bytes.size()) {
        own.assign(data.begin(), data.end());
        data = own;
    }
    const size_t begin = Begin(i), old = SizeOf(i);
    if (data.size() > old) {
        // Room for a whole block at once: growing by doubling copied each item three times.
        if (bytes.capacity() == 0) bytes.reserve(ndb::kMaxBlockData);
        bytes.insert(bytes.begin() + long(begin + old), data.size() - old, 0);
    } else if (data.size() < old) {
        bytes.erase(bytes.begin() + long(begin + data.size()), bytes.begin() + long(begin + old));
    }
    std::copy(data.begin(), data.end(), bytes.begin() + long(begin));
    for (size_t j = i; j < ends.size(); ++j) ends[j] = uint16_t(ends[j] + data.size() - old);
}

void Heap::Parse(size_t blockIndex, Block& b, const std::vector<uint8_t>& raw) const {
    std::span<const uint8_t> s(raw);
    const std::string where = "heap block " + std::to_string(blockIndex);
    size_t ibHnpm = Get16(s, 0);
    if (ibHnpm < HeaderSize(blockIndex) || ibHnpm + 4 > raw.size()) {
        throw std::runtime_error(where + ": page map offset " + std::to_string(ibHnpm) +
                                 " outside the block of " + std::to_string(raw.size()) + " bytes");
    }
    size_t cAlloc = Get16(s, ibHnpm);
    if (ibHnpm + 4 + 2 * (cAlloc + 1) > raw.size()) {
        throw std::runtime_error(where + ": page map of " + std::to_string(cAlloc) +
                                 " items overruns the block");
    }
    b.ends.clear();
    b.frees = 0;
    const size_t first = Get16(s, ibHnpm + 4);
    size_t prev = first;
    for (size_t i = 0; i < cAlloc; ++i) {
        size_t next = Get16(s, ibHnpm + 4 + 2 * (i + 1));
        if (next < prev || next > ibHnpm) {
            throw std::runtime_error(where + ": item " + std::to_string(i + 1) +
                                     " has bad offsets " + std::to_string(prev) + ".." +
                                     std::to_string(next));
        }
        b.ends.push_back(uint16_t(next - first));
        b.frees += next == prev ? 1 : 0;
        prev = next;
    }
    if (cAlloc == 0)
        b.bytes.clear();
    else
        b.bytes.assign(raw.begin() + long(first), raw.begin() + long(prev));
    if (blockIndex == 0) {
        b.fillMap.assign(raw.begin() + 8, raw.begin() + 12);
    } else if (IsBitmapBlock(blockIndex)) {
        b.fillMap.assign(raw.begin() + 2, raw.begin() + 66);
    }
    b.loaded = true;
}

Heap::Block& Heap::Load(size_t blockIndex) const {
    if (blockIndex >= blocks_.size()) {
        throw std::runtime_error("heap: block " + std::to_string(blockIndex) + " does not exist (" +
                                 std::to_string(blocks_.size()) + " blocks)");
    }
    Block& b = blocks_[blockIndex];
    if (!b.loaded) Parse(blockIndex, b, db_->ReadBlock(b.bid));
    return b;
}

void Heap::Serialize(size_t blockIndex, const Block& b, std::vector<uint8_t>& out) const {
    out.assign(HeaderSize(blockIndex), 0);
    out.insert(out.end(), b.bytes.begin(), b.bytes.end());
    const size_t cFree = b.frees;
    if (out.size() & 1) out.push_back(0);
    Put16(out, 0, uint16_t(out.size()));
    if (blockIndex == 0) {
        out[2] = kHnSig;
        out[3] = clientSig_;
        Put32(out, 4, userRoot_);
        std::copy(b.fillMap.begin(), b.fillMap.end(), out.begin() + 8);
    } else if (IsBitmapBlock(blockIndex)) {
        std::copy(b.fillMap.begin(), b.fillMap.end(), out.begin() + 2);
    }
    AppendLe(out, b.Count(), 2);
    AppendLe(out, cFree, 2);
    // The page map: where each item starts, then where the last one ends.
    const size_t at = HeaderSize(blockIndex);
    AppendLe(out, at, 2);
    for (uint16_t end : b.ends) AppendLe(out, at + end, 2);
}

std::span<const uint8_t> Heap::Item(Hid hid) const {
    if (hid == 0 || (hid & 0x1F) != 0)
        throw std::runtime_error("heap: " + HidText(hid) + " is not an HID");
    const Block& b = Load(HidBlockOf(hid));
    size_t index = HidIndexOf(hid);
    if (index == 0 || index > b.Count() || b.SizeOf(index - 1) == 0) {
        throw std::runtime_error("heap: " + HidText(hid) + " names no allocated item");
    }
    return b.ItemAt(index - 1);
}

std::vector<uint8_t> Heap::Read(Hid hid) const {
    const auto item = Item(hid);
    return {item.begin(), item.end()};
}
size_t Heap::ItemSize(Hid hid) const {
    return Item(hid).size();
}

void Heap::SetUserRoot(Hid hid) {
    if (hid == userRoot_) return;
    userRoot_ = hid;
    Load(0).dirty = true;
}

bool Heap::Fits(size_t blockIndex, size_t bytes) const {
    const Block& b = Load(blockIndex);
    const bool freeSlot = b.frees > 0;
    if (!freeSlot && b.Count() >= kMaxItemsPerBlock) return false;
    return BlockSize(blockIndex, b, freeSlot ? 0 : 1, bytes) <= ndb::kMaxBlockData;
}

Hid Heap::Place(size_t blockIndex, std::span<const uint8_t> bytes) {
    Block& b = Load(blockIndex);
    size_t slot = b.Count();
    if (b.frees > 0) {
        slot = 0;
        while (b.SizeOf(slot) != 0) ++slot;
        --b.frees;
    } else {
        b.ends.push_back(uint16_t(b.bytes.size()));
    }
    b.SetItem(slot, bytes);
    b.dirty = true;
    return MakeHid(uint32_t(blockIndex), uint32_t(slot + 1));
}

Hid Heap::Allocate(std::span<const uint8_t> bytes) {
    if (bytes.empty()) throw std::invalid_argument("heap: cannot allocate an empty item");
    if (bytes.size() > kMaxHeapItem) {
        throw std::invalid_argument("heap: item of " + std::to_string(bytes.size()) +
                                    " bytes exceeds the 3580-byte limit");
    }
    // Only the last block is tried: finding room elsewhere would mean reading the whole heap.
    size_t last = blocks_.size() - 1;
    if (Fits(last, bytes.size())) return Place(last, bytes);
    if (blocks_.size() >= kMaxHeapBlocks) throw std::runtime_error("heap: full (65536 blocks)");
    Block nb;
    nb.loaded = true;
    if (IsBitmapBlock(blocks_.size())) nb.fillMap.assign(64, 0);
    blocks_.push_back(std::move(nb));
    return Place(blocks_.size() - 1, bytes);
}

Hid Heap::Replace(Hid hid, std::span<const uint8_t> bytes) {
    if (bytes.empty()) throw std::invalid_argument("heap: cannot store an empty item");
    if (bytes.size() > kMaxHeapItem) {
        throw std::invalid_argument("heap: item of " + std::to_string(bytes.size()) +
                                    " bytes exceeds the 3580-byte limit");
    }
    size_t old = Item(hid).size();
    Block& b = Load(HidBlockOf(hid));
    if (bytes.size() <= old ||
        BlockSize(HidBlockOf(hid), b, 0, bytes.size() - old) <= ndb::kMaxBlockData) {
        b.SetItem(HidIndexOf(hid) - 1, bytes);
        b.dirty = true;
        return hid;
    }
    Free(hid);
    return Allocate(bytes);
}

void Heap::Free(Hid hid) {
    Item(hid);  // throws for an HID that names no item
    Block& b = Load(HidBlockOf(hid));
    b.SetItem(HidIndexOf(hid) - 1, {});
    ++b.frees;
    while (b.Count() > 0 && b.SizeOf(b.Count() - 1) == 0) {
        b.ends.pop_back();
        --b.frees;
    }
    b.dirty = true;
}

size_t Heap::ItemCount() const {
    size_t n = 0;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const Block& b = Load(i);
        for (size_t k = 0; k < b.Count(); ++k) n += b.SizeOf(k) == 0 ? 0 : 1;
    }
    return n;
}

bool Heap::Modified() const {
    for (const auto& b : blocks_) {
        if (b.dirty) return true;
    }
    return false;
}

uint8_t Heap::FillLevel(size_t freeBytes) {
    static const size_t kBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                     512,  256,  128,  64,   32,   16,   8};
    for (uint8_t level = 0; level < 15; ++level) {
        if (freeBytes >= kBounds[level]) return level;
    }
    return 15;
}

void Heap::SetFillLevel(size_t blockIndex) {
    const Block& b = blocks_[blockIndex];
    uint8_t level = FillLevel(ndb::kMaxBlockData - BlockSize(blockIndex, b, 0, 0));
    size_t holder = FillHolder(blockIndex);
    Block& h = Load(holder);
    size_t nibble = blockIndex - holder;
    uint8_t& byte = h.fillMap[nibble / 2];
    uint8_t updated =
        (nibble & 1) ? uint8_t((byte & 0x0F) | (level << 4)) : uint8_t((byte & 0xF0) | level);
    if (updated != byte) {
        byte = updated;
        h.dirty = true;
    }
}

uint64_t Heap::StreamSize() const {
    const size_t last = blocks_.size() - 1;
    return uint64_t(last) * ndb::kMaxBlockData + BlockSize(last, Load(last), 0, 0);
}

ndb::Bid Heap::Write(ndb::NodeDatabase& db) {
    // A block that stopped being the last one is stored again, padded.
    for (size_t i = 0; i + 1 < blocks_.size(); ++i) {
        if (!blocks_[i].padded) Load(i).dirty = true;
    }
    if (!Modified() && stream_ != 0) return stream_;
    // Fill levels first: recording them may dirty a holder block, whose own level is then
    // recorded in the second pass (holders record their own level, so two passes suffice).
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (blocks_[i].dirty) SetFillLevel(i);
        }
    }
    std::vector<ndb::Bid> leaves(blocks_.size());
    for (size_t i = 0; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        if (b.dirty || b.bid == 0) {
            std::vector<uint8_t>& raw = image_;
            // Most heaps are one small block: room for what it holds, not a whole block.
            raw.reserve(i + 1 < blocks_.size() ? ndb::kMaxBlockData : BlockSize(i, b, 0, 0));
            Serialize(i, b, raw);
            b.padded = i + 1 < blocks_.size();
            if (b.padded) raw.resize(ndb::kMaxBlockData, 0);
            b.bid = db.WriteBlock(raw);
            b.dirty = false;
        }
        leaves[i] = b.bid;
        // Keep the header block and the block taking new items; others are read on demand.
        if (i != 0 && i + 1 != blocks_.size()) {
            b.loaded = false;
            b.bytes = {};
            b.ends = {};
            b.frees = 0;
            b.fillMap = {};
        }
    }
    db_ = &db;
    stream_ = db.WriteDataTree(leaves);
    return stream_;
}

}  // namespace pst::ltp
