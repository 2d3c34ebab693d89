#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

// The AMap bits of the whole file in memory: one bit per 64 bytes, most significant bit first.
// Each interval starts with its own map pages, which stay marked.
//
// Intervals the allocation has moved past are held as their few free runs instead of the
// 496-byte bitmap, so memory stays near a tenth of a bitmap per interval however big the
// file gets; changing such an interval turns it back into a bitmap.
class AllocationMap {
  public:
    using Bitmap = std::array<uint8_t, kAMapBitmapBytes>;

    // `intervals` fresh maps with only the map pages marked.
    void Reset(uint64_t intervals);
    // Adds interval k as stored in the file.
    void Append(const Bitmap& bits);
    // Adds a fresh interval at the end of the file.
    void Grow();

    uint64_t Intervals() const { return maps_.size(); }
    Bitmap GetBitmap(uint64_t k) const;
    uint64_t FreeBytes() const { return freeSlotsTotal_ * kSlotSize; }

    // First free run of `bytes` (a multiple of 64) inside one interval; pages are 512-aligned.
    // Marks it and returns its offset, or nothing when no interval has room.
    std::optional<Ib> Allocate(uint64_t bytes, bool pageAligned);
    // Returns false when some slot was already marked (overlap).
    bool MarkUsed(Ib ib, uint64_t bytes);
    void MarkFree(Ib ib, uint64_t bytes);
    bool IsMarked(Ib ib) const;

    // Intervals changed since the last call, in ascending order.
    std::vector<uint64_t> TakeDirty();

  private:
    struct FreeRun {
        uint16_t first = 0;  // slot
        uint16_t count = 0;
    };
    // One interval: the bitmap, or when `bits` is empty, the free runs in slot order.
    struct Interval {
        std::unique_ptr<Bitmap> bits;
        std::vector<FreeRun> runs;
        bool listed = false;  // in expanded_
    };
    // Intervals held as runs only while they have at most this many.
    static constexpr size_t kMaxRuns = 32;

    static Bitmap FreshBitmap(uint64_t k);
    Bitmap& Expand(uint64_t k);
    bool Compact(uint64_t k);
    // Turns the bitmaps of intervals behind the allocation into runs.
    void CompactPassed();
    static uint32_t CountFree(const Bitmap& bits);
    std::optional<uint32_t> FindRun(uint64_t k, uint32_t slots, bool pageAligned) const;

    std::vector<Interval> maps_;
    std::vector<uint64_t> expanded_;  // bitmaps added or changed since the last CompactPassed()
    std::vector<uint32_t> freeSlots_;
    // Per interval, a bitmap byte below which every byte is 0xFF: searches start there, so
    // filling a file from the front does not rescan the full part at every allocation.
    std::vector<uint32_t> firstOpenByte_;
    uint64_t freeSlotsTotal_ = 0;
    uint64_t cursor_ = 0;  // first interval worth searching
    // Changed intervals: a flag per interval and the list of the flagged ones.
    std::vector<uint8_t> dirtyFlags_;
    std::vector<uint64_t> dirty_;

    void MarkDirty(uint64_t k) {
        if (dirtyFlags_[k]) return;
        dirtyFlags_[k] = 1;
        dirty_.push_back(k);
    }
};

}  // namespace pst::ndb
