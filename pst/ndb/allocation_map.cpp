#include "pst/ndb/allocation_map.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "pst/ndb/errors.h"

namespace pst::ndb {
namespace {

bool Bit(const AllocationMap::Bitmap& bits, uint32_t slot) {
    return (bits[slot / 8] & (0x80u >> (slot % 8))) != 0;
}

}  // namespace

AllocationMap::Bitmap AllocationMap::FreshBitmap(uint64_t k) {
    Bitmap bits{};
    // Each map page is 512 bytes = 8 slots = one whole byte.
    for (uint64_t i = 0; i < MapPagesAt(k); ++i) bits[i] = 0xFF;
    return bits;
}

uint32_t AllocationMap::CountFree(const Bitmap& bits) {
    uint32_t used = 0;
    for (uint8_t b : bits) used += static_cast<uint32_t>(std::popcount(b));
    return static_cast<uint32_t>(kSlotsPerAMap) - used;
}

void AllocationMap::Reset(uint64_t intervals) {
    maps_.clear();
    expanded_.clear();
    freeSlots_.clear();
    firstOpenByte_.clear();
    freeSlotsTotal_ = 0;
    cursor_ = 0;
    dirty_.clear();
    dirtyFlags_.clear();
    for (uint64_t k = 0; k < intervals; ++k) Grow();
}

AllocationMap::Bitmap AllocationMap::GetBitmap(uint64_t k) const {
    const Interval& in = maps_[k];
    if (in.bits) return *in.bits;
    Bitmap bits;
    bits.fill(0xFF);
    for (const FreeRun& r : in.runs) {
        for (uint32_t s = r.first; s < uint32_t{r.first} + r.count; ++s)
            bits[s / 8] = static_cast<uint8_t>(bits[s / 8] & ~(0x80u >> (s % 8)));
    }
    return bits;
}

AllocationMap::Bitmap& AllocationMap::Expand(uint64_t k) {
    Interval& in = maps_[k];
    if (!in.bits) {
        in.bits = std::make_unique<Bitmap>(GetBitmap(k));
        in.runs = {};
    }
    if (!in.listed) {
        in.listed = true;
        expanded_.push_back(k);
    }
    return *in.bits;
}

bool AllocationMap::Compact(uint64_t k) {
    Interval& in = maps_[k];
    const Bitmap& bits = *in.bits;
    std::vector<FreeRun> runs;
    for (uint32_t slot = firstOpenByte_[k] * 8; slot < kSlotsPerAMap;) {
        if (slot % 8 == 0 && bits[slot / 8] == 0xFF) {
            slot += 8;
        } else if (Bit(bits, slot)) {
            ++slot;
        } else {
            if (runs.size() == kMaxRuns) return false;
            uint32_t end = slot + 1;
            while (end < kSlotsPerAMap && !Bit(bits, end)) ++end;
            runs.push_back({static_cast<uint16_t>(slot), static_cast<uint16_t>(end - slot)});
            slot = end;
        }
    }
    in.runs.assign(runs.begin(), runs.end());  // exact size
    in.bits.reset();
    return true;
}

void AllocationMap::CompactPassed() {
    // The last interval and the one allocations start from are still being filled.
    const uint64_t last = maps_.size() - 1;
    std::erase_if(expanded_, [&](uint64_t k) {
        if (k == last || k == cursor_) return false;
        Compact(k);  // one with too many runs stays a bitmap until it changes again
        maps_[k].listed = false;
        return true;
    });
}

void AllocationMap::Append(const Bitmap& bits) {
    maps_.push_back({std::make_unique<Bitmap>(bits), {}, true});
    expanded_.push_back(maps_.size() - 1);
    freeSlots_.push_back(CountFree(bits));
    uint32_t open = 0;
    while (open < kAMapBitmapBytes && bits[open] == 0xFF) ++open;
    firstOpenByte_.push_back(open);
    freeSlotsTotal_ += freeSlots_.back();
    dirtyFlags_.push_back(0);
    CompactPassed();
}

void AllocationMap::Grow() {
    Append(FreshBitmap(maps_.size()));
    MarkDirty(maps_.size() - 1);
}

std::optional<uint32_t> AllocationMap::FindRun(uint64_t k, uint32_t slots, bool pageAligned) const {
    if (!maps_[k].bits) {
        // The same first fit as the bitmap search below: runs are maximal and in slot order.
        for (const FreeRun& r : maps_[k].runs) {
            const uint32_t end = uint32_t{r.first} + r.count;
            if (pageAligned) {
                const uint32_t page = (uint32_t{r.first} + 7) / 8 * 8;
                if (page + 8 <= end) return page;
            } else if (slots > 0 && r.count >= slots) {
                return r.first;
            }
        }
        return std::nullopt;
    }
    const Bitmap& bits = *maps_[k].bits;
    const uint32_t start = firstOpenByte_[k];
    if (pageAligned) {
        for (uint32_t i = start; i < kAMapBitmapBytes; ++i) {
            if (bits[i] == 0) return i * 8;
        }
        return std::nullopt;
    }
    uint32_t run = 0;
    for (uint32_t slot = start * 8; slot < kSlotsPerAMap;) {
        if (run == 0 && slot % 8 == 0 && bits[slot / 8] == 0xFF) {
            slot += 8;
            continue;
        }
        if (Bit(bits, slot)) {
            run = 0;
        } else if (++run == slots) {
            return slot + 1 - slots;
        }
        ++slot;
    }
    return std::nullopt;
}

std::optional<Ib> AllocationMap::Allocate(uint64_t bytes, bool pageAligned) {
    const auto slots = static_cast<uint32_t>(bytes / kSlotSize);
    const uint64_t n = maps_.size();
    for (uint64_t step = 0; step < n; ++step) {
        const uint64_t k = (cursor_ + step) % n;
        if (freeSlots_[k] < slots) continue;
        const auto slot = FindRun(k, slots, pageAligned);
        if (!slot) continue;
        cursor_ = k;
        const Ib ib = AMapOffset(k) + uint64_t{*slot} * kSlotSize;
        MarkUsed(ib, bytes);
        return ib;
    }
    return std::nullopt;
}

bool AllocationMap::MarkUsed(Ib ib, uint64_t bytes) {
    const uint64_t k = AMapIndexOf(ib);
    if (ib < kFirstAMapOffset || k >= maps_.size()) {
        throw NdbError("allocation at " + Hex(ib) + " lies outside the file");
    }
    auto first = static_cast<uint32_t>((ib - AMapOffset(k)) / kSlotSize);
    const auto count = static_cast<uint32_t>(bytes / kSlotSize);
    if (first + count > kSlotsPerAMap) {
        throw NdbError("allocation at " + Hex(ib) + " crosses an allocation map boundary");
    }
    Bitmap& bits = Expand(k);
    bool clean = true;
    for (uint32_t s = first; s < first + count; ++s) {
        if (Bit(bits, s)) {
            clean = false;
            continue;
        }
        bits[s / 8] = static_cast<uint8_t>(bits[s / 8] | (0x80u >> (s % 8)));
        --freeSlots_[k];
        --freeSlotsTotal_;
    }
    uint32_t& open = firstOpenByte_[k];
    while (open < kAMapBitmapBytes && bits[open] == 0xFF) ++open;
    MarkDirty(k);
    return clean;
}

void AllocationMap::MarkFree(Ib ib, uint64_t bytes) {
    const uint64_t k = AMapIndexOf(ib);
    if (ib < kFirstAMapOffset || k >= maps_.size()) return;
    auto first = static_cast<uint32_t>((ib - AMapOffset(k)) / kSlotSize);
    const auto count = static_cast<uint32_t>(bytes / kSlotSize);
    Bitmap& bits = Expand(k);
    for (uint32_t s = first; s < first + count && s < kSlotsPerAMap; ++s) {
        if (!Bit(bits, s)) continue;
        bits[s / 8] = static_cast<uint8_t>(bits[s / 8] & ~(0x80u >> (s % 8)));
        ++freeSlots_[k];
        ++freeSlotsTotal_;
    }
    firstOpenByte_[k] = std::min(firstOpenByte_[k], first / 8);
    MarkDirty(k);
    if (k < cursor_) cursor_ = k;
}

std::vector<uint64_t> AllocationMap::TakeDirty() {
    std::vector<uint64_t> out = std::exchange(dirty_, {});
    for (uint64_t k : out) dirtyFlags_[k] = 0;
    std::sort(out.begin(), out.end());
    return out;
}

bool AllocationMap::IsMarked(Ib ib) const {
    const uint64_t k = AMapIndexOf(ib);
    if (ib < kFirstAMapOffset || k >= maps_.size()) return false;
    const auto slot = static_cast<uint32_t>((ib - AMapOffset(k)) / kSlotSize);
    if (maps_[k].bits) return Bit(*maps_[k].bits, slot);
    for (const FreeRun& r : maps_[k].runs)
        if (slot >= r.first && slot < uint32_t{r.first} + r.count) return false;
    return true;
}

}  // namespace pst::ndb
