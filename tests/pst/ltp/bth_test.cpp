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
    heap.SetUserRoot(header);
    auto findings = VerifyHeapNode(db, heap.Write(db), {});
    EXPECT_TRUE(findings.empty()) << findings.front();
}

TEST(Bth, ThousandsOfKeysInRandomOrderBuildIndexLevels) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    Hid header = BTree::Create(heap, 4, 8);
    heap.SetUserRoot(header);
    std::map<uint32_t, uint64_t> expected;
    std::mt19937 rng(7);
    {
        BTree tree(heap, header);
        for (int i = 0; i < 20000; ++i) {
            uint32_t key = rng();
            uint64_t value = (uint64_t(rng()) << 32) | rng();
            tree.PutUint(key, value);
            expected[key] = value;
        }
        EXPECT_GE(tree.IndexLevels(), 1);
    }
    ndb::Bid data = heap.Write(db);

    Heap loaded(db, data);
    BTree tree(loaded, loaded.UserRoot());
    EXPECT_EQ(tree.Count(), expected.size());
    for (auto [k, v] : expected) ASSERT_EQ(tree.FindUint(k), v) << k;
    EXPECT_FALSE(tree.FindUint(0).has_value() && !expected.count(0));
    std::vector<uint32_t> order;
    tree.ForEach([&](std::span<const uint8_t> k, std::span<const uint8_t>) {
        order.push_back(Get32(k, 0));
    });
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    CheckStructure(db, loaded, tree.Header());
}

TEST(Bth, ReplaceAndEraseKeepTheTreeConsistent) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    BTree tree(heap, BTree::Create(heap, 2, 6));
    std::map<uint16_t, uint64_t> expected;
    for (uint32_t k = 0; k < 3000; ++k) {
        tree.PutUint(uint16_t(k * 7 % 3001), k);
        expected[uint16_t(k * 7 % 3001)] = k;
    }
    for (uint32_t k = 0; k < 3000; k += 3) {
        if (!expected.count(uint16_t(k))) continue;
        tree.PutUint(uint16_t(k), k + 100000);  // replace
        expected[uint16_t(k)] = k + 100000;
    }
    // Erase the smallest keys (first-key updates along the left edge) and every other key.
    for (uint32_t k = 0; k < 3001; ++k) {
        if (k < 500 || k % 2 == 0) {
            EXPECT_EQ(tree.EraseUint(k), expected.erase(uint16_t(k)) == 1) << k;
        }
    }
    EXPECT_FALSE(tree.EraseUint(2));
    EXPECT_EQ(tree.Count(), expected.size());
    for (auto [k, v] : expected) ASSERT_EQ(tree.FindUint(k), v & 0xFFFFFFFFFFFF) << k;
    CheckStructure(db, heap, tree.Header());

    // Emptied completely the tree returns to hidRoot 0 and its items are freed.
    for (auto [k, v] : expected) tree.EraseUint(k);
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(Get32(heap.Read(tree.Header()), 4), 0u);
    EXPECT_EQ(tree.IndexLevels(), 0);
    tree.PutUint(5, 6);
    EXPECT_EQ(tree.FindUint(5), 6u);
}

TEST(Bth, SixteenByteKeysCompareAsLittleEndianIntegers) {
    Heap heap(kClientSigBth);
    BTree tree(heap, BTree::Create(heap, 16, 1));
    std::vector<uint8_t> low(16, 0), high(16, 0), data{1};
    low[0] = 0xFF;    // small: only the least significant byte set
    high[15] = 0x01;  // large: most significant byte set
    tree.Put(high, data);
    tree.Put(low, data);
    std::vector<std::vector<uint8_t>> order;
    tree.ForEach([&](std::span<const uint8_t> k, auto) { order.emplace_back(k.begin(), k.end()); });
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], low);
    EXPECT_TRUE(tree.Find(high).has_value());
    EXPECT_THROW(tree.Put(std::vector<uint8_t>(4, 0), data), std::invalid_argument);
    EXPECT_THROW(tree.Put(low, std::vector<uint8_t>{1, 2}), std::invalid_argument);
    EXPECT_THROW(BTree::Create(heap, 3, 4), std::invalid_argument);
    EXPECT_THROW(BTree::Create(heap, 4, 33), std::invalid_argument);
}

TEST(Bth, AscendingAppendsFillLeavesAndTouchFewBlocks) {
    MemoryNodeDatabase db;
    Heap heap(kClientSigBth);
    Hid header = BTree::Create(heap, 4, 4);
    heap.SetUserRoot(header);
    BTree tree(heap, header);
    for (uint32_t k = 0; k < 50000; ++k) tree.PutUint(k, k);
    EXPECT_EQ(tree.IndexLevels(), 1);  // 112 leaves of 447 records fit one index item
    heap.Write(db);
    db.resetCounts();
    tree.PutUint(50000, 1);
    heap.Write(db);
    EXPECT_LE(db.counts().dataBlocks, 3u);
    CheckStructure(db, heap, header);
}

}  // namespace
}  // namespace pst::ltp
