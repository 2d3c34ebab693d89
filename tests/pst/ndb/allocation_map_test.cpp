#include "pst/ndb/allocation_map.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace pst::ndb {
namespace {

// First fit over the bitmaps, as the map must answer whatever it remembers between calls.
std::optional<Ib> FirstFit(const AllocationMap& map, uint64_t bytes, bool pageAligned) {
    const uint64_t slots = bytes / kSlotSize;
    for (uint64_t k = 0; k < map.intervals(); ++k) {
        const auto& bits = map.bitmap(k);
        auto used = [&](uint64_t s) { return (bits[s / 8] & (0x80u >> (s % 8))) != 0; };
        const uint64_t step = pageAligned ? 8 : 1;
        for (uint64_t s = 0; s + slots <= kSlotsPerAMap; s += step) {
            bool free = true;
            for (uint64_t i = s; i < s + slots && free; ++i) free = !used(i);
            if (free) return AMapOffset(k) + s * kSlotSize;
        }
    }
    return std::nullopt;
}

// Frees in the middle of full space, refills, frees again: every answer must be the first run
// of the interval that fits, never space behind an earlier hole nor space still in use.
TEST(AllocationMap, AllocatesLikeFirstFitThroughFreesAndRefills) {
    AllocationMap map;
    map.reset(1);
    std::mt19937 rng(7);
    std::vector<std::pair<Ib, uint64_t>> live;
    for (int round = 0; round < 3000; ++round) {
        const bool page = rng() % 5 == 0;
        const uint64_t bytes = page ? kPageSize : kSlotSize * (1 + rng() % 40);
        if (!live.empty() && rng() % 3 == 0) {
            const size_t victim = rng() % live.size();
            map.markFree(live[victim].first, live[victim].second);
            live.erase(live.begin() + static_cast<long>(victim));
            continue;
        }
        const auto expected = FirstFit(map, bytes, page);
        const auto got = map.allocate(bytes, page);
        ASSERT_EQ(got, expected) << "round " << round << ", " << bytes << " bytes";
        if (got) live.emplace_back(*got, bytes);
    }
    EXPECT_LT(map.freeBytes(), kAMapInterval / 2);  // the map did fill up along the way
}

// The remembered start must come back when a map is read from a file: a loaded bitmap whose
// front is full still offers its first free byte, and one with a hole at slot 0 offers it.
TEST(AllocationMap, LoadedBitmapsOfferTheirFirstHole) {
    AllocationMap::Bitmap bits{};
    for (size_t i = 0; i < 100; ++i) bits[i] = 0xFF;
    bits[40] = 0xF0;
    AllocationMap map;
    map.append(bits);
    EXPECT_EQ(map.allocate(4 * kSlotSize, false), AMapOffset(0) + (40 * 8 + 4) * kSlotSize);
    EXPECT_EQ(map.allocate(kPageSize, true), AMapOffset(0) + 100 * kPageSize);
    map.markFree(AMapOffset(0) + 2 * kPageSize, kPageSize);
    EXPECT_EQ(map.allocate(kPageSize, true), AMapOffset(0) + 2 * kPageSize);
    EXPECT_EQ(map.allocate(kSlotSize, false), AMapOffset(0) + 101 * kPageSize);
}

}  // namespace
}  // namespace pst::ndb
