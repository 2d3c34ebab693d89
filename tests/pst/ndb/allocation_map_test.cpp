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
    for (uint64_t k = 0; k < map.Intervals(); ++k) {
        const auto& bits = map.GetBitmap(k);
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
    map.Reset(1);
    std::mt19937 rng(7);
    std::vector<std::pair<Ib, uint64_t>> live;
    for (int round = 0; round < 3000; ++round) {
        const bool page = rng() % 5 == 0;
        const uint64_t bytes = page ? kPageSize : kSlotSize * (1 + rng() % 40);
        if (!live.empty() && rng() % 3 == 0) {
            const size_t victim = rng() % live.size();
            map.MarkFree(live[victim].first, live[victim].second);
            live.erase(live.begin() + static_cast<long>(victim));
            continue;
        }
        const auto expected = FirstFit(map, bytes, page);
        const auto got = map.Allocate(bytes, page);
        ASSERT_EQ(got, expected) << "round " << round << ", " << bytes << " bytes";
        if (got) live.emplace_back(*got, bytes);
    }
    EXPECT_LT(map.FreeBytes(), kAMapInterval / 2);  // the map did fill up along the way
}

// The remembered start must come back when a map is read from a file: a loaded bitmap whose
// front is full still offers its first free byte, and one with a hole at slot 0 offers it.
TEST(AllocationMap, LoadedBitmapsOfferTheirFirstHole) {
    AllocationMap::Bitmap bits{};
    for (size_t i = 0; i < 100; ++i) bits[i] = 0xFF;
    bits[40] = 0xF0;
    AllocationMap map;
    map.Append(bits);
    EXPECT_EQ(map.Allocate(4 * kSlotSize, false), AMapOffset(0) + (40 * 8 + 4) * kSlotSize);
    EXPECT_EQ(map.Allocate(kPageSize, true), AMapOffset(0) + 100 * kPageSize);
    map.MarkFree(AMapOffset(0) + 2 * kPageSize, kPageSize);
    EXPECT_EQ(map.Allocate(kPageSize, true), AMapOffset(0) + 2 * kPageSize);
    EXPECT_EQ(map.Allocate(kSlotSize, false), AMapOffset(0) + 101 * kPageSize);
}

// A file several intervals long, filled, grown and freed at random as a writer does: the
// intervals left behind are held in a smaller form, and whatever form each one is in, its
// bitmap, its marks, the free total and the first fit inside it must match a plain record of
// every slot handed out and given back.
TEST(AllocationMap, IntervalsLeftBehindAnswerAsTheirBitmapsDid) {
    AllocationMap map;
    map.Reset(1);
    std::vector<std::vector<bool>> used(1, std::vector<bool>(kSlotsPerAMap, false));
    auto record = [&](Ib ib, uint64_t bytes, bool value) {
        const uint64_t k = AMapIndexOf(ib), first = (ib - AMapOffset(k)) / kSlotSize;
        for (uint64_t s = first; s < first + bytes / kSlotSize; ++s) used[k][s] = value;
    };
    auto addInterval = [&] {
        used.emplace_back(kSlotsPerAMap, false);
        for (uint64_t s = 0; s < MapPagesAt(used.size() - 1) * 8; ++s) used.back()[s] = true;
    };
    for (uint64_t s = 0; s < MapPagesAt(0) * 8; ++s) used[0][s] = true;

    std::mt19937 rng(11);
    std::vector<std::pair<Ib, uint64_t>> live;
    for (int round = 0; round < 6000; ++round) {
        if (!live.empty() && rng() % 4 == 0) {
            const size_t victim = rng() % live.size();
            map.MarkFree(live[victim].first, live[victim].second);
            record(live[victim].first, live[victim].second, false);
            live.erase(live.begin() + static_cast<long>(victim));
        } else {
            const bool page = rng() % 6 == 0;
            const uint64_t bytes = page ? kPageSize : kSlotSize * (1 + rng() % 120);
            auto got = map.Allocate(bytes, page);
            if (!got) {
                map.Grow();
                addInterval();
                got = map.Allocate(bytes, page);
            }
            ASSERT_TRUE(got) << "round " << round;
            const uint64_t k = AMapIndexOf(*got), at = (*got - AMapOffset(k)) / kSlotSize;
            // First fit inside the chosen interval.
            const uint64_t slots = bytes / kSlotSize, step = page ? 8 : 1;
            for (uint64_t s = 0; s + slots <= kSlotsPerAMap; s += step) {
                bool free = true;
                for (uint64_t i = s; i < s + slots && free; ++i) free = !used[k][i];
                if (free) {
                    ASSERT_EQ(s, at) << "round " << round << ", interval " << k;
                    break;
                }
            }
            record(*got, bytes, true);
            live.emplace_back(*got, bytes);
        }
        if (round % 50 != 0) continue;
        ASSERT_EQ(map.Intervals(), used.size());
        uint64_t freeSlots = 0;
        for (uint64_t k = 0; k < used.size(); ++k) {
            const AllocationMap::Bitmap bits = map.GetBitmap(k);
            for (uint64_t s = 0; s < kSlotsPerAMap; ++s) {
                const bool bit = (bits[s / 8] & (0x80u >> (s % 8))) != 0;
                ASSERT_EQ(bit, used[k][s])
                    << "round " << round << ", interval " << k << ", slot " << s;
                ASSERT_EQ(map.IsMarked(AMapOffset(k) + s * kSlotSize), bit);
                freeSlots += bit ? 0 : 1;
            }
        }
        ASSERT_EQ(map.FreeBytes(), freeSlots * kSlotSize);
    }
    EXPECT_GT(map.Intervals(), 5u);  // the walk did leave intervals behind
}

}  // namespace
}  // namespace pst::ndb
