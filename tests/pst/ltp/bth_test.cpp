#include "pst/ltp/bth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "pst/ltp/byte_io.h"
#include "pst/ltp/verify.h"
#include "tests/pst/ltp/memory_node_database.h"

namespace pst::ltp {
namespace {

using testing::MemoryNodeDatabase;

// The layer's verifier checks what readers rely on: ascending keys, index keys equal to their
// child's first key, every leaf at depth bIdxLevels, items within the size limit.
void CheckStructure(MemoryNodeDatabase& db, Heap& heap, Hid header) {
    heap.setUserRoot(header);
    auto findings = VerifyHeapNode(db, heap.write(db), {});
    EXPECT_TRUE(findings.empty()) << findings.front();
}

TEST(Bth, ThousandsOfKeysInRandomOrderBuildIndexLevels) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    Hid header = BTree::Create(heap, 4, 8);
    heap.setUserRoot(header);
    std::map<uint32_t, uint64_t> expected;
    std::mt19937 rng(7);
    {
        BTree tree(heap, header);
        for (int i = 0; i < 20000; ++i) {
            uint32_t key = rng();
            uint64_t value = (uint64_t(rng()) << 32) | rng();
            tree.putUint(key, value);
            expected[key] = value;
        }
        EXPECT_GE(tree.indexLevels(), 1);
    }
    ndb::Bid data = heap.write(db);

    Heap loaded(db, data);
    BTree tree(loaded, loaded.userRoot());
    EXPECT_EQ(tree.count(), expected.size());
    for (auto [k, v] : expected) ASSERT_EQ(tree.findUint(k), v) << k;
    EXPECT_FALSE(tree.findUint(0).has_value() && !expected.count(0));
    std::vector<uint32_t> order;
    tree.forEach([&](std::span<const uint8_t> k, std::span<const uint8_t>) {
        order.push_back(Get32(k, 0));
    });
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    CheckStructure(db, loaded, tree.header());
}

TEST(Bth, ReplaceAndEraseKeepTheTreeConsistent) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    BTree tree(heap, BTree::Create(heap, 2, 6));
    std::map<uint16_t, uint64_t> expected;
    for (uint32_t k = 0; k < 3000; ++k) {
        tree.putUint(uint16_t(k * 7 % 3001), k);
        expected[uint16_t(k * 7 % 3001)] = k;
    }
    for (uint32_t k = 0; k < 3000; k += 3) {
        if (!expected.count(uint16_t(k))) continue;
        tree.putUint(uint16_t(k), k + 100000);  // replace
        expected[uint16_t(k)] = k + 100000;
    }
    // Erase the smallest keys (first-key updates along the left edge) and every other key.
    for (uint32_t k = 0; k < 3001; ++k) {
        if (k < 500 || k % 2 == 0) {
            EXPECT_EQ(tree.eraseUint(k), expected.erase(uint16_t(k)) == 1) << k;
        }
    }
    EXPECT_FALSE(tree.eraseUint(2));
    EXPECT_EQ(tree.count(), expected.size());
    for (auto [k, v] : expected) ASSERT_EQ(tree.findUint(k), v & 0xFFFFFFFFFFFF) << k;
    CheckStructure(db, heap, tree.header());

    // Emptied completely the tree returns to hidRoot 0 and its items are freed.
    for (auto [k, v] : expected) tree.eraseUint(k);
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(Get32(heap.read(tree.header()), 4), 0u);
    EXPECT_EQ(tree.indexLevels(), 0);
    tree.putUint(5, 6);
    EXPECT_EQ(tree.findUint(5), 6u);
}

TEST(Bth, SixteenByteKeysCompareAsLittleEndianIntegers) {
    Heap heap(kClientSigBth);
    BTree tree(heap, BTree::Create(heap, 16, 1));
    std::vector<uint8_t> low(16, 0), high(16, 0), data{1};
    low[0] = 0xFF;    // small: only the least significant byte set
    high[15] = 0x01;  // large: most significant byte set
    tree.put(high, data);
    tree.put(low, data);
    std::vector<std::vector<uint8_t>> order;
    tree.forEach([&](std::span<const uint8_t> k, auto) { order.emplace_back(k.begin(), k.end()); });
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], low);
    EXPECT_TRUE(tree.find(high).has_value());
    EXPECT_THROW(tree.put(std::vector<uint8_t>(4, 0), data), std::invalid_argument);
    EXPECT_THROW(tree.put(low, std::vector<uint8_t>{1, 2}), std::invalid_argument);
    EXPECT_THROW(BTree::Create(heap, 3, 4), std::invalid_argument);
    EXPECT_THROW(BTree::Create(heap, 4, 33), std::invalid_argument);
}

TEST(Bth, AscendingAppendsFillLeavesAndTouchFewBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    Hid header = BTree::Create(heap, 4, 4);
    heap.setUserRoot(header);
    BTree tree(heap, header);
    for (uint32_t k = 0; k < 50000; ++k) tree.putUint(k, k);
    EXPECT_EQ(tree.indexLevels(), 1);  // 112 leaves of 447 records fit one index item
    heap.write(db);
    db.resetCounts();
    tree.putUint(50000, 1);
    heap.write(db);
    EXPECT_LE(db.counts().dataBlocks, 3u);
    CheckStructure(db, heap, header);
}

}  // namespace
}  // namespace pst::ltp
