#include "pst/ltp/heap.h"

#include <gtest/gtest.h>

#include <numeric>

#include "pst/ltp/byte_io.h"
#include "tests/pst/ltp/memory_node_database.h"

namespace pst::ltp {
namespace {

using testing::MemoryNodeDatabase;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 31 + seed * 17) >> 1);
    return v;
}

TEST(Heap, SingleBlockLayoutMatchesTheFormat) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    Hid a = heap.Allocate(std::vector<uint8_t>{1, 2, 3});
    Hid b = heap.Allocate(std::vector<uint8_t>{4, 5});
    heap.SetUserRoot(a);
    EXPECT_EQ(a, 0x20u);
    EXPECT_EQ(b, 0x40u);
    auto raw = db.ReadBlock(heap.Write(db));
    // HNHDR, items packed from offset 12, page map 2-aligned after them, block ends with it.
    ASSERT_EQ(raw.size(), 18u + 4 + 2 * 3);
    EXPECT_EQ(Get16(raw, 0), 18);
    EXPECT_EQ(raw[2], 0xEC);
    EXPECT_EQ(raw[3], 0xBC);
    EXPECT_EQ(Get32(raw, 4), 0x20u);
    EXPECT_EQ(Get16(raw, 18), 2);  // cAlloc
    EXPECT_EQ(Get16(raw, 20), 0);  // cFree
    EXPECT_EQ(Get16(raw, 22), 12);
    EXPECT_EQ(Get16(raw, 24), 15);
    EXPECT_EQ(Get16(raw, 26), 17);
}

TEST(Heap, GrowsOverBitmapBlocksAndReadsBack) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigTc);
    std::vector<Hid> hids;
    // Two 3000-byte items per block: 260 items make 130 blocks, past the bitmap blocks 8 and 128+8.
    for (uint32_t i = 0; i < 260; ++i) hids.push_back(heap.Allocate(Pattern(3000, i)));
    heap.SetUserRoot(hids[5]);
    ASSERT_EQ(heap.BlockCount(), 130u);
    ndb::Bid data = heap.Write(db);

    auto leaves = db.DataBlocks(data);
    ASSERT_EQ(leaves.size(), 130u);
    for (size_t i = 0; i < leaves.size(); ++i) {
        auto raw = db.ReadBlock(leaves[i]);
        size_t header = i == 0 ? 12 : (i == 8 || i == 136) ? 66 : 2;
        size_t ibHnpm = Get16(raw, 0);
        EXPECT_EQ(ibHnpm, header + 6000) << "block " << i;
        EXPECT_EQ(Get16(raw, ibHnpm), 2) << "block " << i;
        EXPECT_EQ(Get16(raw, ibHnpm + 4), header) << "block " << i;
        // Like Outlook, every block but the last is padded to a full block.
        EXPECT_EQ(raw.size(), i + 1 < leaves.size() ? 8176 : ibHnpm + 4 + 2 * 3) << "block " << i;
    }
    // Two 3000-byte items leave about 2100 bytes: fill level 2 in HNHDR and the bitmap header.
    auto first = db.ReadBlock(leaves[0]);
    EXPECT_EQ(first[8], 0x22);
    auto bitmap = db.ReadBlock(leaves[8]);
    EXPECT_EQ(bitmap[2], 0x22);
    EXPECT_EQ(bitmap[2 + 60], 0x22);  // blocks 128 and 129

    Heap back(db, data);
    EXPECT_EQ(back.ClientSig(), kClientSigTc);
    EXPECT_EQ(back.UserRoot(), hids[5]);
    EXPECT_EQ(back.BlockCount(), 130u);
    for (uint32_t i = 0; i < hids.size(); ++i) {
        ASSERT_EQ(back.Read(hids[i]), Pattern(3000, i)) << "item " << i;
    }
}

TEST(Heap, RewritesOnlyChangedBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    std::vector<Hid> hids;
    for (uint32_t i = 0; i < 40; ++i) hids.push_back(heap.Allocate(Pattern(3000, i)));
    ndb::Bid data = heap.Write(db);
    auto before = db.DataBlocks(data);

    Heap loaded(db, data);
    db.resetCounts();
    loaded.Replace(hids[21], Pattern(3000, 99));  // block 10, same size: same fill level
    ndb::Bid changed = loaded.Write(db);
    auto after = db.DataBlocks(changed);
    EXPECT_EQ(db.counts().dataBlocks, 1u);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i] != before[i], i == 10) << "block " << i;
    }
    // Only the changed block was read besides the header block.
    EXPECT_LE(db.blockReads(), 2u);
    EXPECT_EQ(Heap(db, changed).Read(hids[21]), Pattern(3000, 99));
    EXPECT_EQ(Heap(db, changed).Read(hids[20]), Pattern(3000, 20));

    // No change, no writing.
    db.resetCounts();
    EXPECT_EQ(loaded.Write(db), changed);
    EXPECT_EQ(db.counts().dataBlocks, 0u);

    // Growing by a block also stores the old last block again, now padded to 8176 bytes.
    loaded.Allocate(Pattern(3000, 7));
    loaded.Allocate(Pattern(3000, 8));
    db.resetCounts();
    auto grown = db.DataBlocks(loaded.Write(db));
    EXPECT_EQ(db.counts().dataBlocks, 3u);  // old last block, new block, fill map in block 8
    ASSERT_EQ(grown.size(), 21u);
    EXPECT_EQ(db.ReadBlock(grown[19]).size(), 8176u);
    EXPECT_EQ(Heap(db, db.WriteDataTree(grown)).Read(MakeHid(20, 2)), Pattern(3000, 8));
}

TEST(Heap, FreeKeepsOtherHidsAndReusesTheSlot) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    Hid a = heap.Allocate(Pattern(10, 1));
    Hid b = heap.Allocate(Pattern(20, 2));
    Hid c = heap.Allocate(Pattern(30, 3));
    heap.Free(b);
    EXPECT_THROW(heap.Read(b), std::runtime_error);
    Heap back(db, heap.Write(db));
    EXPECT_EQ(back.Read(a), Pattern(10, 1));
    EXPECT_EQ(back.Read(c), Pattern(30, 3));
    EXPECT_THROW(back.Read(b), std::runtime_error);
    Hid d = back.Allocate(Pattern(5, 4));
    EXPECT_EQ(d, b);
    // Freeing the last item shrinks the page map instead of leaving a free entry.
    back.Free(c);
    auto raw = db.ReadBlock(back.Write(db));
    size_t ibHnpm = Get16(raw, 0);
    EXPECT_EQ(Get16(raw, ibHnpm), 2);
    EXPECT_EQ(Get16(raw, ibHnpm + 2), 0);
}

TEST(Heap, ReplaceMovesAnItemOnlyWhenItsBlockIsFull) {
    Heap heap(kClientSigPc);
    Hid a = heap.Allocate(Pattern(3000, 1));
    Hid b = heap.Allocate(Pattern(2000, 2));
    Hid c = heap.Allocate(Pattern(2000, 3));
    EXPECT_EQ(heap.Replace(a, Pattern(1000, 4)), a);
    EXPECT_EQ(heap.Replace(a, Pattern(3100, 5)), a);  // 7124 bytes with the page map
    Hid moved = heap.Replace(b, Pattern(3100, 6));
    EXPECT_NE(moved, b);
    EXPECT_EQ(HidBlockOf(moved), 1u);
    EXPECT_EQ(heap.Read(moved), Pattern(3100, 6));
    EXPECT_EQ(heap.Read(a), Pattern(3100, 5));
    EXPECT_EQ(heap.Read(c), Pattern(2000, 3));
}

// A block keeps its items' bytes one after another: an item that grows or shrinks moves the
// ones after it, which must keep their bytes and HIDs, also when the new bytes are a view of
// the heap itself.
TEST(Heap, ItemsResizedInPlaceKeepTheirNeighbours) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    Hid a = heap.Allocate(Pattern(40, 1));
    Hid b = heap.Allocate(Pattern(30, 2));
    Hid c = heap.Allocate(Pattern(20, 3));
    EXPECT_EQ(heap.Replace(b, Pattern(300, 4)), b);
    EXPECT_EQ(heap.Replace(a, heap.View(b)), a);  // b's bytes move while a grows
    EXPECT_EQ(heap.Replace(c, Pattern(7, 5)), c);
    heap.Free(b);
    EXPECT_EQ(heap.Read(a), Pattern(300, 4));
    EXPECT_EQ(heap.Read(c), Pattern(7, 5));
    Heap back(db, heap.Write(db));
    EXPECT_EQ(back.Allocate(Pattern(9, 6)), b);
    EXPECT_EQ(back.Read(a), Pattern(300, 4));
    EXPECT_EQ(back.Read(b), Pattern(9, 6));
    EXPECT_EQ(back.Read(c), Pattern(7, 5));
}

TEST(Heap, RefusesBadItemsAndCorruptBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    EXPECT_NO_THROW(heap.Allocate(Pattern(3580, 0)));
    EXPECT_THROW(heap.Allocate(Pattern(3581, 0)), std::invalid_argument);
    EXPECT_THROW(heap.Allocate({}), std::invalid_argument);
    EXPECT_THROW(heap.Read(0x60), std::runtime_error);
    EXPECT_THROW(heap.Read(0x10021), std::runtime_error);  // not an HID
    EXPECT_THROW(heap.Read(0x50020), std::runtime_error);  // block 5 does not exist

    std::vector<uint8_t> notHeap(40, 0);
    EXPECT_THROW(Heap(db, db.WriteBlock(notHeap)), std::runtime_error);
    auto raw = db.ReadBlock(heap.Write(db));
    raw[0] = 0xFF;  // page map offset beyond the block
    raw[1] = 0x1F;
    EXPECT_THROW(Heap(db, db.WriteBlock(raw)), std::runtime_error);
}

}  // namespace
}  // namespace pst::ltp
