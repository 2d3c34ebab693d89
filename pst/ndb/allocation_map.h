#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

// The AMap bits of the whole file in memory: one bit per 64 bytes, most significant bit first.
// Each interval starts with its own map pages, which stay marked.
class AllocationMap {
  public:
    using Bitmap = std::array<uint8_t, kAMapBitmapBytes>;

    // `intervals` fresh maps with only the map pages marked.
    void reset(uint64_t intervals);
    // Adds interval k as stored in the file.
    void append(const Bitmap& bits);
    // Adds a fresh interval at the end of the file.
    void grow();

    uint64_t intervals() const { return maps_.size(); }
    const Bitmap& bitmap(uint64_t k) const { return maps_[k]; }
    uint64_t freeBytes() const { return freeSlotsTotal_ * kSlotSize; }

    // First free run of `bytes` (a multiple of 64) inside one interval; pages are 512-aligned.
    // Marks it and returns its offset, or nothing when no interval has room.
    std::optional<Ib> allocate(uint64_t bytes, bool pageAligned);
    // Returns false when some slot was already marked (overlap).
    bool markUsed(Ib ib, uint64_t bytes);
    void markFree(Ib ib, uint64_t bytes);
    bool isMarked(Ib ib) const;

    // Intervals changed since the last call.
    std::set<uint64_t> takeDirty() { return std::exchange(dirty_, {}); }

  private:
    static Bitmap FreshBitmap(uint64_t k);
    static uint32_t CountFree(const Bitmap& bits);
    std::optional<uint32_t> findRun(uint64_t k, uint32_t slots, bool pageAligned) const;

    std::vector<Bitmap> maps_;
    std::vector<uint32_t> freeSlots_;
    // Per interval, a bitmap byte below which every byte is 0xFF: searches start there, so
    // filling a file from the front does not rescan the full part at every allocation.
    std::vector<uint32_t> firstOpenByte_;
    uint64_t freeSlotsTotal_ = 0;
    uint64_t cursor_ = 0;  // first interval worth searching
    std::set<uint64_t> dirty_;
};

}  // namespace pst::ndb
