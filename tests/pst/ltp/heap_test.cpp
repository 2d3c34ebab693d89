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
    Hid a = heap.allocate(std::vector<uint8_t>{1, 2, 3});
    Hid b = heap.allocate(std::vector<uint8_t>{4, 5});
    heap.setUserRoot(a);
    EXPECT_EQ(a, 0x20u);
    EXPECT_EQ(b, 0x40u);
    auto raw = db.readBlock(heap.write(db));
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
    for (uint32_t i = 0; i < 260; ++i) hids.push_back(heap.allocate(Pattern(3000, i)));
    heap.setUserRoot(hids[5]);
    ASSERT_EQ(heap.blockCount(), 130u);
    ndb::Bid data = heap.write(db);

    auto leaves = db.dataBlocks(data);
    ASSERT_EQ(leaves.size(), 130u);
    for (size_t i = 0; i < leaves.size(); ++i) {
        auto raw = db.readBlock(leaves[i]);
        size_t header = i == 0 ? 12 : (i == 8 || i == 136) ? 66 : 2;
        size_t ibHnpm = Get16(raw, 0);
        EXPECT_EQ(ibHnpm, header + 6000) << "block " << i;
        EXPECT_EQ(Get16(raw, ibHnpm), 2) << "block " << i;
        EXPECT_EQ(Get16(raw, ibHnpm + 4), header) << "block " << i;
        // Like Outlook, every block but the last is padded to a full block.
        EXPECT_EQ(raw.size(), i + 1 < leaves.size() ? 8176 : ibHnpm + 4 + 2 * 3) << "block " << i;
    }
    // Two 3000-byte items leave about 2100 bytes: fill level 2 in HNHDR and the bitmap header.
    auto first = db.readBlock(leaves[0]);
    EXPECT_EQ(first[8], 0x22);
    auto bitmap = db.readBlock(leaves[8]);
    EXPECT_EQ(bitmap[2], 0x22);
    EXPECT_EQ(bitmap[2 + 60], 0x22);  // blocks 128 and 129

    Heap back(db, data);
    EXPECT_EQ(back.clientSig(), kClientSigTc);
    EXPECT_EQ(back.userRoot(), hids[5]);
    EXPECT_EQ(back.blockCount(), 130u);
    for (uint32_t i = 0; i < hids.size(); ++i) {
        ASSERT_EQ(back.read(hids[i]), Pattern(3000, i)) << "item " << i;
    }
}

TEST(Heap, RewritesOnlyChangedBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    std::vector<Hid> hids;
    for (uint32_t i = 0; i < 40; ++i) hids.push_back(heap.allocate(Pattern(3000, i)));
    ndb::Bid data = heap.write(db);
    auto before = db.dataBlocks(data);

    Heap loaded(db, data);
    db.resetCounts();
    loaded.replace(hids[21], Pattern(3000, 99));  // block 10, same size: same fill level
    ndb::Bid changed = loaded.write(db);
    auto after = db.dataBlocks(changed);
    EXPECT_EQ(db.counts().dataBlocks, 1u);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i] != before[i], i == 10) << "block " << i;
    }
    // Only the changed block was read besides the header block.
    EXPECT_LE(db.blockReads(), 2u);
    EXPECT_EQ(Heap(db, changed).read(hids[21]), Pattern(3000, 99));
    EXPECT_EQ(Heap(db, changed).read(hids[20]), Pattern(3000, 20));

    // No change, no writing.
    db.resetCounts();
    EXPECT_EQ(loaded.write(db), changed);
    EXPECT_EQ(db.counts().dataBlocks, 0u);

    // Growing by a block also stores the old last block again, now padded to 8176 bytes.
    loaded.allocate(Pattern(3000, 7));
    loaded.allocate(Pattern(3000, 8));
    db.resetCounts();
    auto grown = db.dataBlocks(loaded.write(db));
    EXPECT_EQ(db.counts().dataBlocks, 3u);  // old last block, new block, fill map in block 8
    ASSERT_EQ(grown.size(), 21u);
    EXPECT_EQ(db.readBlock(grown[19]).size(), 8176u);
    EXPECT_EQ(Heap(db, db.writeDataTree(grown)).read(MakeHid(20, 2)), Pattern(3000, 8));
}

TEST(Heap, FreeKeepsOtherHidsAndReusesTheSlot) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    Hid a = heap.allocate(Pattern(10, 1));
    Hid b = heap.allocate(Pattern(20, 2));
    Hid c = heap.allocate(Pattern(30, 3));
    heap.free(b);
    EXPECT_THROW(heap.read(b), std::runtime_error);
    Heap back(db, heap.write(db));
    EXPECT_EQ(back.read(a), Pattern(10, 1));
    EXPECT_EQ(back.read(c), Pattern(30, 3));
    EXPECT_THROW(back.read(b), std::runtime_error);
    Hid d = back.allocate(Pattern(5, 4));
    EXPECT_EQ(d, b);
    // Freeing the last item shrinks the page map instead of leaving a free entry.
    back.free(c);
    auto raw = db.readBlock(back.write(db));
    size_t ibHnpm = Get16(raw, 0);
    EXPECT_EQ(Get16(raw, ibHnpm), 2);
    EXPECT_EQ(Get16(raw, ibHnpm + 2), 0);
}

TEST(Heap, ReplaceMovesAnItemOnlyWhenItsBlockIsFull) {
    Heap heap(kClientSigPc);
    Hid a = heap.allocate(Pattern(3000, 1));
    Hid b = heap.allocate(Pattern(2000, 2));
    Hid c = heap.allocate(Pattern(2000, 3));
    EXPECT_EQ(heap.replace(a, Pattern(1000, 4)), a);
    EXPECT_EQ(heap.replace(a, Pattern(3100, 5)), a);  // 7124 bytes with the page map
    Hid moved = heap.replace(b, Pattern(3100, 6));
    EXPECT_NE(moved, b);
    EXPECT_EQ(HidBlockOf(moved), 1u);
    EXPECT_EQ(heap.read(moved), Pattern(3100, 6));
    EXPECT_EQ(heap.read(a), Pattern(3100, 5));
    EXPECT_EQ(heap.read(c), Pattern(2000, 3));
}

TEST(Heap, RefusesBadItemsAndCorruptBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigPc);
    EXPECT_NO_THROW(heap.allocate(Pattern(3580, 0)));
    EXPECT_THROW(heap.allocate(Pattern(3581, 0)), std::invalid_argument);
    EXPECT_THROW(heap.allocate({}), std::invalid_argument);
    EXPECT_THROW(heap.read(0x60), std::runtime_error);
    EXPECT_THROW(heap.read(0x10021), std::runtime_error);  // not an HID
    EXPECT_THROW(heap.read(0x50020), std::runtime_error);  // block 5 does not exist

    std::vector<uint8_t> notHeap(40, 0);
    EXPECT_THROW(Heap(db, db.writeBlock(notHeap)), std::runtime_error);
    auto raw = db.readBlock(heap.write(db));
    raw[0] = 0xFF;  // page map offset beyond the block
    raw[1] = 0x1F;
    EXPECT_THROW(Heap(db, db.writeBlock(raw)), std::runtime_error);
}

}  // namespace
}  // namespace pst::ltp
