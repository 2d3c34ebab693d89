#pragma once

#include <cstdint>

#include "pst/ndb/types.h"

namespace pst::ndb {

// Fixed geometry of a Unicode file with 512-byte pages.
constexpr uint64_t kPageSize = 512;
constexpr uint64_t kPageTrailerSize = 16;
constexpr uint64_t kBlockTrailerSize = 16;
constexpr uint64_t kSlotSize = 64;        // one AMap bit
constexpr uint64_t kMaxBlockSize = 8192;  // data + padding + trailer
constexpr uint64_t kHeaderSize = 564;
constexpr Ib kDListOffset = 0x4200;
constexpr Ib kFirstAMapOffset = 0x4400;
constexpr uint64_t kAMapBitmapBytes = 496;
constexpr uint64_t kSlotsPerAMap = kAMapBitmapBytes * 8;         // 3968
constexpr uint64_t kAMapInterval = kSlotsPerAMap * kSlotSize;    // 253952
constexpr uint64_t kMaxXBlockEntries = (kMaxBlockData - 8) / 8;  // 1021
constexpr uint64_t kMaxSlEntries = (kMaxBlockData - 8) / 24;     // 340
constexpr uint64_t kMaxSiEntries = (kMaxBlockData - 8) / 16;     // 510

enum PageType : uint8_t {
    kPtypeBbt = 0x80,
    kPtypeNbt = 0x81,
    kPtypeFMap = 0x82,
    kPtypePMap = 0x83,
    kPtypeAMap = 0x84,
    kPtypeFPMap = 0x85,
    kPtypeDList = 0x86,
};

// The internal bit of a BID marks XBLOCK, XXBLOCK, SLBLOCK and SIBLOCK.
constexpr bool IsInternalBid(Bid bid) {
    return (bid & 2) != 0;
}
// Bit 0 is reserved: readers ignore it when looking a block up.
constexpr Bid BidKey(Bid bid) {
    return bid & ~Bid{1};
}

// Bytes a block of `cb` data bytes occupies on disk.
constexpr uint64_t BlockDiskSize(uint64_t cb) {
    return (cb + kBlockTrailerSize + kSlotSize - 1) / kSlotSize * kSlotSize;
}

constexpr Ib AMapOffset(uint64_t k) {
    return kFirstAMapOffset + k * kAMapInterval;
}
constexpr uint64_t AMapIndexOf(Ib ib) {
    return (ib - kFirstAMapOffset) / kAMapInterval;
}
constexpr Ib FileEofFor(uint64_t intervals) {
    return kFirstAMapOffset + intervals * kAMapInterval;
}

// Map pages due after AMap k. PMaps follow every 8th AMap; FMaps cover 496 AMaps each after the
// header's 128; FPMaps cover 31744 AMaps each after the header's 8192 (they never share an
// interval with an FMap).
constexpr bool HasPMap(uint64_t k) {
    return k % 8 == 0;
}
constexpr bool HasFMap(uint64_t k) {
    return k >= 128 && (k - 128) % 496 == 0;
}
constexpr bool HasFPMap(uint64_t k) {
    return k >= 8192 && (k - 8192) % 31744 == 0;
}

// Readers disagree on whether the FPMap sits at AMap+0x400 or AMap+0x600. We write it at
// +0x400 (right after the PMap, where an FMap would go) and a copy at +0x600, and mark both as
// allocated, so that either reading finds a valid FPMap page.
constexpr uint64_t MapPagesAt(uint64_t k) {
    return 1 + (HasPMap(k) ? 1 : 0) + (HasFMap(k) ? 1 : 0) + (HasFPMap(k) ? 2 : 0);
}

}  // namespace pst::ndb
