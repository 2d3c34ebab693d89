#include "pst/ltp/verify.h"

#include <gtest/gtest.h>

#include "pst/ltp/bth.h"
#include "pst/ltp/byte_io.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "tests/pst/ltp/memory_node_database.h"

namespace pst::ltp {
namespace {

using testing::MemoryNodeDatabase;

// True when one of the findings contains `text`.
bool Reports(const std::vector<std::string>& findings, const std::string& text) {
    for (const auto& f : findings) {
        if (f.find(text) != std::string::npos) return true;
    }
    return false;
}

struct Fixture {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    ndb::Bid data = 0;
};

// A table of 1000 rows with a string column: the matrix spans three subnode blocks.
Fixture Table() {
    Fixture f;
    TableContext tc(f.db, f.subnodes, std::vector<uint32_t>{0x0037001F, 0x0E080003});
    for (uint32_t i = 0; i < 1000; ++i) {
        tc.AppendRow(i + 1, {PropertyValue::StringUtf8(0x0037001F, "row " + std::to_string(i)),
                             PropertyValue::Int32(0x0E080003, int32_t(i))});
    }
    f.data = tc.Write();
    return f;
}

TEST(LtpVerify, SoundStructuresHaveNoFindings) {
    Fixture t = Table();
    EXPECT_EQ(VerifyHeapNode(t.db, t.data, t.subnodes), std::vector<std::string>{});
    Fixture p;
    p.data = PropertyContext::Write(
        p.db, p.subnodes,
        std::vector<PropertyValue>{
            PropertyValue::Time(0x30070040, 5),
            PropertyValue::Binary(0x37010102, std::vector<uint8_t>(5000, 1))});
    EXPECT_EQ(VerifyHeapNode(p.db, p.data, p.subnodes), std::vector<std::string>{});
    EXPECT_EQ(HeapClientSig(p.db, p.data), kClientSigPc);
    EXPECT_FALSE(HeapClientSig(p.db, p.db.WriteBlock(std::vector<uint8_t>(20, 0))).has_value());
}

TEST(LtpVerify, FindsBrokenHeapBlocks) {
    Fixture p;
    p.data = PropertyContext::Write(
        p.db, p.subnodes, std::vector<PropertyValue>{PropertyValue::Int32(0x0E070003, 1)});
    auto raw = p.db.ReadBlock(p.data);
    auto odd = raw;
    Put16(odd, 0, uint16_t(Get16(raw, 0) + 1));  // page map off its 2-byte alignment
    EXPECT_TRUE(Reports(VerifyHeapNode(p.db, p.db.WriteBlock(odd), {}), "ibHnpm"));
    auto sig = raw;
    sig[2] = 0xEB;
    EXPECT_TRUE(Reports(VerifyHeapNode(p.db, p.db.WriteBlock(sig), {}), "bSig"));
    auto fill = raw;
    fill[9] = 0x30;  // a fill level for block 3 of a one-block heap
    EXPECT_TRUE(Reports(VerifyHeapNode(p.db, p.db.WriteBlock(fill), {}), "absent block 3"));
}

TEST(LtpVerify, FindsBrokenPropertyValues) {
    Fixture p;
    PropertyContext pc(p.db, p.subnodes);
    pc.Set(PropertyValue::Time(0x30070040, 5));
    pc.Set(PropertyValue::Binary(0x37010102, std::vector<uint8_t>(5000, 1)));
    p.data = pc.Write();
    // An 8-byte value shrunk to 4 bytes in place.
    Heap heap(p.db, p.data);
    BTree bth(heap, heap.UserRoot());
    Hid timeItem = Get32(*bth.Find(std::vector<uint8_t>{0x07, 0x30}), 2);
    heap.Replace(timeItem, std::vector<uint8_t>{1, 2, 3, 4});
    EXPECT_TRUE(Reports(VerifyHeapNode(p.db, heap.Write(p.db), p.subnodes), "0x30070040"));
    // The value subnode dropped from the map.
    EXPECT_TRUE(Reports(VerifyHeapNode(p.db, p.data, {}), "missing"));
}

TEST(LtpVerify, FindsBrokenTables) {
    Fixture t = Table();
    const auto info = Heap(t.db, t.data).Read(Heap(t.db, t.data).UserRoot());
    {
        // A RowIndex entry sending a row id to another row.
        Heap h(t.db, t.data);
        BTree index(h, Get32(info, 10));
        index.PutUint(5, 7);
        auto findings = VerifyHeapNode(t.db, h.Write(t.db), t.subnodes);
        EXPECT_TRUE(Reports(findings, "first DWORD")) << findings.size();
        EXPECT_TRUE(Reports(findings, "repeated"));
    }
    {
        // A string cell whose heap item was freed.
        Heap h(t.db, t.data);
        auto row0 = t.db.ReadBlock(t.db.DataBlocks(t.subnodes.at(0x3F).data)[0]);
        uint16_t ib = 0;
        for (size_t c = 0; c < info[1]; ++c) {
            if (Get32(info, 22 + 8 * c) == 0x0037001F) ib = Get16(info, 22 + 8 * c + 4);
        }
        h.Free(Get32(row0, ib));
        EXPECT_TRUE(Reports(VerifyHeapNode(t.db, h.Write(t.db), t.subnodes), "names no item"));
    }
    {
        // A row block that is not full although another follows it.
        auto subnodes = t.subnodes;
        auto leaves = t.db.DataBlocks(subnodes.at(0x3F).data);
        ASSERT_GE(leaves.size(), 2u);
        auto first = t.db.ReadBlock(leaves[0]);
        first.resize(first.size() - 100);
        leaves[0] = t.db.WriteBlock(first);
        subnodes[0x3F].data = t.db.WriteDataTree(leaves);
        EXPECT_TRUE(Reports(VerifyHeapNode(t.db, t.data, subnodes), "not full"));
    }
}

}  // namespace
}  // namespace pst::ltp
