#include "pst/ltp/table_context.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "pst/ltp/byte_io.h"
#include "pst/ltp/verify.h"
#include "tests/pst/ltp/memory_node_database.h"

namespace pst::ltp {
namespace {

using testing::MemoryNodeDatabase;

constexpr uint32_t kSubject = 0x0037001F;
constexpr uint32_t kSize = 0x0E080003;
constexpr uint32_t kDate = 0x0E060040;
constexpr uint32_t kRead = 0x0E69000B;
constexpr uint32_t kImportance = 0x00170002;
constexpr uint32_t kBody = 0x10000102;

const std::vector<uint32_t> kColumns{kSubject, kSize, kDate, kRead, kImportance, kBody};

std::u16string Subject(uint32_t i) {
    std::string s = "Message number " + std::to_string(i);
    return std::u16string(s.begin(), s.end());
}

std::vector<PropertyValue> RowValues(uint32_t i) {
    return {
        PropertyValue::String(kSubject, Subject(i)), PropertyValue::Int32(kSize, int32_t(i * 10)),
        PropertyValue::Time(kDate, 0x01D0000000000000 + i), PropertyValue::Bool(kRead, i % 2 == 0),
        PropertyValue::Int16(kImportance, int16_t(i % 3))};
}

// The node as the caller keeps it: data stream plus subnode map.
struct Node {
    ndb::Bid data = 0;
    ndb::SubnodeMap subnodes;
};

// The layer's verifier: RowIndex a permutation matching the rows' ids, the matrix blocks full
// but the last, CEB bits and HNID cells sound.
void CheckMatrix(MemoryNodeDatabase& db, const Node& node, const TableContext& tc) {
    auto findings = VerifyHeapNode(db, node.data, node.subnodes);
    EXPECT_TRUE(findings.empty()) << findings.front();
    if (tc.RowsInSubnode()) {
        auto leaves = db.DataBlocks(node.subnodes.at(TableContext::kRowMatrixNid).data);
        size_t perBlock = ndb::kMaxBlockData / tc.RowSize();
        EXPECT_EQ(leaves.size(), (tc.RowCount() + perBlock - 1) / perBlock);
    }
}

TEST(TableContext, SchemaLayoutFollowsTheFormat) {
    MemoryNodeDatabase db;
    Node node;
    TableContext tc(db, node.subnodes, kColumns);
    const auto& cols = tc.Columns();
    ASSERT_EQ(cols.size(), 8u);
    EXPECT_TRUE(std::is_sorted(cols.begin(), cols.end(),
                               [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; }));
    auto find = [&](uint32_t tag) {
        for (const auto& c : cols) {
            if (c.tag == tag) return c;
        }
        return TcColumn{};
    };
    EXPECT_EQ(find(TableContext::kRowIdTag), (TcColumn{TableContext::kRowIdTag, 0, 4, 0}));
    EXPECT_EQ(find(TableContext::kRowVerTag), (TcColumn{TableContext::kRowVerTag, 4, 4, 1}));
    EXPECT_EQ(find(kDate).cbData, 8);
    EXPECT_EQ(find(kSubject).cbData, 4);  // HNID
    EXPECT_EQ(find(kBody).cbData, 4);
    EXPECT_EQ(find(kImportance).cbData, 2);
    EXPECT_EQ(find(kRead).cbData, 1);
    // 8 + 8 (date) + 3 x 4 = 28, then 2, then 1, then a one-byte CEB.
    EXPECT_EQ(find(kImportance).ibData, 28);
    EXPECT_EQ(find(kRead).ibData, 30);
    EXPECT_EQ(tc.RowSize(), 32u);
    std::set<uint8_t> bits;
    for (const auto& c : cols) bits.insert(c.iBit);
    EXPECT_EQ(bits.size(), cols.size());
    EXPECT_EQ(*bits.rbegin(), cols.size() - 1);

    node.data = tc.Write();
    const Heap& heap = tc.GetHeap();
    EXPECT_EQ(heap.ClientSig(), 0x7C);
    EXPECT_EQ(heap.UserRoot(), 0x40u);  // TCINFO after the RowIndex header at 0x20
    auto info = heap.Read(0x40);
    EXPECT_EQ(info[0], 0x7C);
    EXPECT_EQ(info[1], 8);
    EXPECT_EQ(Get16(info, 2), 28);
    EXPECT_EQ(Get16(info, 4), 30);
    EXPECT_EQ(Get16(info, 6), 31);
    EXPECT_EQ(Get16(info, 8), 32);
    EXPECT_EQ(Get32(info, 10), 0x20u);
    EXPECT_EQ(Get32(info, 14), 0u);  // no rows yet
    EXPECT_EQ(heap.Read(0x20), (std::vector<uint8_t>{0xB5, 4, 4, 0, 0, 0, 0, 0}));
}

TEST(TableContext, TenThousandRowsRoundTrip) {
    MemoryNodeDatabase db;
    Node node;
    {
        TableContext tc(db, node.subnodes, kColumns);
        for (uint32_t i = 0; i < 100; ++i) tc.AppendRow(0x200024 + 32 * i, RowValues(i));
        EXPECT_FALSE(tc.RowsInSubnode());  // 100 x 32 bytes still fit one heap item
        for (uint32_t i = 100; i < 10000; ++i) tc.AppendRow(0x200024 + 32 * i, RowValues(i));
        EXPECT_TRUE(tc.RowsInSubnode());
        node.data = tc.Write();
        CheckMatrix(db, node, tc);
    }
    TableContext tc(db, node.subnodes, node.data);
    ASSERT_EQ(tc.RowCount(), 10000u);
    for (uint32_t i = 0; i < 10000; i += 7) {
        auto row = tc.Row(i);
        ASSERT_EQ(row.size(), 7u) << i;  // RowId, RowVer and 5 of 6 columns; body absent
        EXPECT_EQ(tc.RowIdAt(i), 0x200024 + 32 * i);
        EXPECT_EQ(tc.Cell(i, kSubject)->AsString(), Subject(i));
        EXPECT_EQ(tc.Cell(i, kSize)->AsInt32(), int32_t(i * 10));
        EXPECT_EQ(tc.Cell(i, kDate)->AsTime(), 0x01D0000000000000 + i);
        EXPECT_EQ(tc.Cell(i, kRead)->AsBool(), i % 2 == 0);
        EXPECT_EQ(tc.Cell(i, kImportance)->Bytes(), (std::vector<uint8_t>{uint8_t(i % 3), 0}));
        EXPECT_FALSE(tc.Cell(i, kBody).has_value());
        EXPECT_EQ(tc.FindRow(0x200024 + 32 * i), i);
    }
    EXPECT_FALSE(tc.FindRow(0x200004).has_value());
    EXPECT_FALSE(tc.RowById(0x200004).has_value());
    EXPECT_EQ(tc.RowById(0x200024 + 32 * 9999)->at(1).AsString(), Subject(9999));  // by tag order
    EXPECT_THROW(tc.AppendRow(0x200024, RowValues(0)), std::invalid_argument);
    // A value without a column is refused, unless the caller first keeps only column values.
    std::vector<PropertyValue> mixed{PropertyValue::Int32(0x66660003, 1),
                                     PropertyValue::StringUtf8(0x0037001E, "8-bit: other tag"),
                                     PropertyValue::Int32(kSize, 3)};
    EXPECT_THROW(tc.AppendRow(1, mixed), std::invalid_argument);
    EXPECT_FALSE(tc.FindRow(1).has_value());
    tc.AppendRow(1, tc.SelectColumns(mixed));
    EXPECT_EQ(tc.RowById(1)->size(), 3u);
}

TEST(TableContext, UpdateClearAndDeleteRows) {
    MemoryNodeDatabase db;
    Node node;
    {
        TableContext tc(db, node.subnodes, kColumns);
        for (uint32_t i = 0; i < 500; ++i) tc.AppendRow(i + 1, RowValues(i));
        node.data = tc.Write();
    }
    TableContext tc(db, node.subnodes, node.data);
    // A large cell goes to a subnode; replacing it with a small one drops that subnode.
    std::vector<uint8_t> big(9000, 0xAB);
    tc.UpdateRow(
        10, {PropertyValue::Binary(kBody, big), PropertyValue::StringUtf8(kSubject, "changed")});
    EXPECT_EQ(node.subnodes.size(), 2u);  // the matrix and the body
    EXPECT_EQ(tc.Cell(9, kBody)->Bytes(), big);
    EXPECT_EQ(tc.Cell(9, kSubject)->AsUtf8(), "changed");
    EXPECT_EQ(tc.Cell(9, kSize)->AsInt32(), 90);
    tc.UpdateRow(10, {PropertyValue::Binary(kBody, std::vector<uint8_t>{1})});
    EXPECT_EQ(node.subnodes.size(), 1u);
    const std::vector<uint32_t> cleared{kSize, kSubject};
    tc.ClearCells(11, cleared);
    EXPECT_FALSE(tc.Cell(10, kSize).has_value());
    EXPECT_FALSE(tc.Cell(10, kSubject).has_value());

    // Deleting moves the last row into the gap and keeps the RowIndex a permutation.
    EXPECT_TRUE(tc.DeleteRow(3));
    EXPECT_FALSE(tc.DeleteRow(3));
    EXPECT_EQ(tc.RowCount(), 499u);
    EXPECT_EQ(tc.FindRow(500), 2u);
    EXPECT_EQ(tc.Cell(2, kSubject)->AsString(), Subject(499));
    for (uint32_t id = 400; id <= 500; ++id) EXPECT_TRUE(tc.DeleteRow(id));
    node.data = tc.Write();

    TableContext back(db, node.subnodes, node.data);
    ASSERT_EQ(back.RowCount(), 398u);
    std::set<uint32_t> ids;
    for (size_t i = 0; i < back.RowCount(); ++i) {
        uint32_t id = back.RowIdAt(i);
        ids.insert(id);
        EXPECT_EQ(back.FindRow(id), i);
    }
    EXPECT_EQ(ids.size(), 398u);
    EXPECT_EQ(ids.count(3) + ids.count(400), 0u);
    EXPECT_EQ(back.Cell(*back.FindRow(10), kBody)->Bytes(), std::vector<uint8_t>{1});
    CheckMatrix(db, node, back);

    // Emptying the table leaves hnidRows 0 and no matrix subnode.
    for (uint32_t id : ids) ASSERT_TRUE(back.DeleteRow(id));
    node.data = back.Write();
    EXPECT_TRUE(node.subnodes.empty());
    TableContext empty(db, node.subnodes, node.data);
    EXPECT_EQ(empty.RowCount(), 0u);
    EXPECT_EQ(Get32(empty.GetHeap().Read(empty.GetHeap().UserRoot()), 14), 0u);
    EXPECT_EQ(empty.GetHeap().ItemCount(), 2u);  // RowIndex header and TCINFO
}

TEST(TableContext, AddColumnKeepsExistingCells) {
    MemoryNodeDatabase db;
    Node node;
    const std::vector<uint32_t> few{kSubject, kSize};
    {
        TableContext tc(db, node.subnodes, few);
        for (uint32_t i = 0; i < 2000; ++i) tc.AppendRow(i + 1, {RowValues(i)[0], RowValues(i)[1]});
        node.data = tc.Write();
    }
    std::map<uint32_t, uint8_t> oldBits;
    TableContext tc(db, node.subnodes, node.data);
    for (const auto& c : tc.Columns()) oldBits[c.tag] = c.iBit;
    // Enough new columns to need a second CEB byte, of every cell width.
    for (uint32_t tag : {kDate, kRead, kImportance, kBody, 0x0E170003u, 0x30130102u})
        tc.AddColumn(tag);
    tc.AddColumn(kDate);  // already there: no change
    EXPECT_EQ(tc.Columns().size(), 10u);
    EXPECT_EQ(tc.RowSize(), 8 + 8 + 5 * 4 + 2 + 1 + 2u);
    for (const auto& c : tc.Columns()) {
        if (oldBits.count(c.tag)) {
            EXPECT_EQ(c.iBit, oldBits[c.tag]) << Hex(c.tag);
        }
    }
    tc.UpdateRow(7, {PropertyValue::Bool(kRead, true), PropertyValue::Int32(0x0E170003, 5)});
    auto extended = RowValues(2000);
    extended.push_back(PropertyValue::Binary(0x30130102, std::vector<uint8_t>(16, 9)));
    tc.AppendRow(2001, extended);
    node.data = tc.Write();

    TableContext back(db, node.subnodes, node.data);
    ASSERT_EQ(back.RowCount(), 2001u);
    EXPECT_EQ(back.Columns(), tc.Columns());
    for (uint32_t i = 0; i < 2000; i += 13) {
        EXPECT_EQ(back.Cell(i, kSubject)->AsString(), Subject(i));
        EXPECT_EQ(back.Cell(i, kSize)->AsInt32(), int32_t(i * 10));
        EXPECT_FALSE(back.Cell(i, kDate).has_value());
        EXPECT_FALSE(back.Cell(i, kBody).has_value());
    }
    EXPECT_TRUE(back.Cell(6, kRead)->AsBool());
    EXPECT_EQ(back.Cell(6, 0x0E170003)->AsInt32(), 5);
    EXPECT_EQ(back.Row(2000).size(), 8u);  // RowId, RowVer and six values
    EXPECT_EQ(back.Cell(2000, 0x30130102)->Bytes(), std::vector<uint8_t>(16, 9));
    CheckMatrix(db, node, back);
}

}  // namespace
}  // namespace pst::ltp
