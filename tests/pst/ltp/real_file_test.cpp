// The LTP structures written into real PST files through the node database of pst/ndb,
// committed, reopened and read back.
#include <gtest/gtest.h>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/verify.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ltp/counting_node_database.h"
#include "tests/pst/ltp/test_values.h"

namespace pst::ltp {
namespace {

using ndb::PstFile;
using testing::CountingNodeDatabase;
using testing::EveryType;
using testing::Generator;
using testing::ScratchDir;

constexpr uint32_t kSubject = 0x0037001F;
constexpr uint32_t kSize = 0x0E080003;
constexpr uint32_t kDate = 0x0E060040;

std::vector<PropertyValue> Row(uint32_t i) {
    return {PropertyValue::StringUtf8(kSubject, "Subject of message " + std::to_string(i)),
            PropertyValue::Int32(kSize, int32_t(i)), PropertyValue::Time(kDate, 1000 + i)};
}

// Writes a node's PC or TC and its subnodes back into the node B-tree.
void PutNode(ndb::NodeDatabase& db, ndb::Nid nid, ndb::Bid data, const ndb::SubnodeMap& subnodes) {
    db.PutNode(ndb::NodeEntry{nid, data, db.WriteSubnodes(subnodes), 0});
}

void ExpectSound(const std::filesystem::path& path) {
    auto errors = ndb::VerifyFile(path);
    EXPECT_TRUE(errors.empty()) << errors.size() << " errors, first: " << errors.front();
}

TEST(LtpInPstFile, PropertiesAndTablesSurviveCommitAndReopen) {
    ScratchDir dir;
    const auto path = dir / "ltp.pst";
    const uint64_t streamSize = 3u * 1024 * 1024 + 5;
    const auto values = EveryType();
    ndb::Nid pcNid = 0, tcNid = 0;
    {
        auto db = PstFile::Create(path);
        ndb::SubnodeMap pcSubnodes, tcSubnodes;
        pcNid = db->AllocateNid(ndb::kNidTypeNormalMessage);
        PropertyContext pc(*db, pcSubnodes);
        for (const auto& v : values) pc.Set(v);
        pc.Set(PropertyValue::Stream(0x37010102, streamSize, Generator(streamSize, 50000)));
        PutNode(*db, pcNid, pc.Write(), pcSubnodes);

        tcNid = db->AllocateNid(ndb::kNidTypeContentsTable);
        TableContext tc(*db, tcSubnodes, std::vector<uint32_t>{kSubject, kSize, kDate});
        for (uint32_t i = 0; i < 10000; ++i) tc.AppendRow(0x200024 + 32 * i, Row(i));
        PutNode(*db, tcNid, tc.Write(), tcSubnodes);
        db->Commit();
    }
    ExpectSound(path);
    {
        auto db = PstFile::Open(path, PstFile::Mode::ReadWrite);
        auto pcNode = db->FindNode(pcNid);
        ASSERT_TRUE(pcNode.has_value());
        auto pcSubnodes = db->ReadSubnodes(pcNode->sub);
        PropertyContext pc(*db, pcSubnodes, pcNode->data);
        auto all = pc.GetAll();
        ASSERT_EQ(all.size(), values.size() + 1);
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(all[i].Tag(), values[i].Tag());
            EXPECT_EQ(all[i].Bytes(), values[i].Bytes()) << Hex(values[i].Tag());
        }
        std::vector<uint8_t> want;
        Generator(streamSize, 50000)([&](auto c) { want.insert(want.end(), c.begin(), c.end()); });
        EXPECT_EQ(pc.Get(0x3701)->Bytes(), want);

        auto tcNode = db->FindNode(tcNid);
        ASSERT_TRUE(tcNode.has_value());
        auto tcSubnodes = db->ReadSubnodes(tcNode->sub);
        TableContext tc(*db, tcSubnodes, tcNode->data);
        ASSERT_EQ(tc.RowCount(), 10000u);
        for (uint32_t i = 0; i < 10000; i += 97) {
            EXPECT_EQ(tc.FindRow(0x200024 + 32 * i), i);
            EXPECT_EQ(tc.Cell(i, kSubject)->AsUtf8(), "Subject of message " + std::to_string(i));
            EXPECT_EQ(tc.Cell(i, kDate)->AsTime(), 1000u + i);
        }
        // Modify both and commit again: replaced values must release their old blocks cleanly.
        pc.Set(PropertyValue::Binary(0x37010102, std::vector<uint8_t>{1, 2, 3}));
        pc.Remove(0x0012);
        PutNode(*db, pcNid, pc.Write(), pcSubnodes);
        tc.AddColumn(0x0E170003);
        tc.UpdateRow(0x200024, {PropertyValue::Int32(0x0E170003, 7)});
        EXPECT_TRUE(tc.DeleteRow(0x200044));
        PutNode(*db, tcNid, tc.Write(), tcSubnodes);
        db->Commit();
    }
    ExpectSound(path);
    auto db = PstFile::Open(path, PstFile::Mode::ReadOnly);
    auto pcNode = db->FindNode(pcNid);
    auto pcSubnodes = db->ReadSubnodes(pcNode->sub);
    EXPECT_TRUE(pcSubnodes.size() == 1);  // only the 3581-byte binary is left in a subnode
    PropertyContext pc(*db, pcSubnodes, pcNode->data);
    EXPECT_EQ(pc.Get(0x3701)->Bytes(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(pc.Get(0x0012).has_value());
    auto tcNode = db->FindNode(tcNid);
    auto tcSubnodes = db->ReadSubnodes(tcNode->sub);
    TableContext tc(*db, tcSubnodes, tcNode->data);
    EXPECT_EQ(tc.RowCount(), 9999u);
    EXPECT_EQ(tc.Cell(0, 0x0E170003)->AsInt32(), 7);
    EXPECT_EQ(tc.Cell(1, kSubject)->AsUtf8(), "Subject of message 9999");
}

// Blocks written and read by one append and write-back of a table node in a real file.
std::pair<size_t, size_t> AppendCost(PstFile& file, ndb::Nid nid, uint32_t id) {
    CountingNodeDatabase db(file);
    auto node = db.FindNode(nid);
    auto subnodes = db.ReadSubnodes(node->sub);
    TableContext tc(db, subnodes, node->data);
    db.reset();
    tc.AppendRow(id, Row(id));
    PutNode(db, nid, tc.Write(), subnodes);
    return {db.blocksWritten + db.treesWritten, db.blocksRead};
}

TEST(LtpInPstFile, AppendCostDoesNotGrowWithTheTable) {
    ScratchDir dir;
    const auto path = dir / "cost.pst";
    auto db = PstFile::Create(path);
    ndb::Nid small = db->AllocateNid(ndb::kNidTypeContentsTable);
    ndb::Nid large = db->AllocateNid(ndb::kNidTypeContentsTable);
    for (auto [nid, rows] : {std::pair{small, 100u}, std::pair{large, 50000u}}) {
        ndb::SubnodeMap subnodes;
        TableContext tc(*db, subnodes, std::vector<uint32_t>{kSubject, kSize, kDate});
        for (uint32_t i = 0; i < rows; ++i) tc.AppendRow(i + 1, Row(i));
        PutNode(*db, nid, tc.Write(), subnodes);
    }
    db->Commit();
    size_t smallCost = 0, largeCost = 0, largeReads = 0;
    for (uint32_t k = 0; k < 10; ++k) {
        smallCost = std::max(smallCost, AppendCost(*db, small, 900000 + k).first);
        auto [written, read] = AppendCost(*db, large, 900000 + k);
        largeCost = std::max(largeCost, written);
        largeReads = std::max(largeReads, read);
        db->Commit();
    }
    std::cout << "append cost: " << smallCost << " blocks at 100 rows, " << largeCost
              << " at 50000 (" << largeReads << " block reads)\n";
    // Last row block, data tree, heap block with the new strings, RowIndex leaf and root
    // blocks, the heap's fill map: a handful, whatever the table's size.
    EXPECT_LE(largeCost, smallCost + 4);
    EXPECT_LE(largeCost, 8u);
    EXPECT_LE(largeReads, 12u);

    // Batched: one table object takes many appends and writes between commits; each round
    // costs about the same however full the table already is.
    auto node = db->FindNode(large);
    auto subnodes = db->ReadSubnodes(node->sub);
    CountingNodeDatabase counting(*db);
    TableContext tc(counting, subnodes, node->data);
    for (uint32_t round = 0; round < 3; ++round) {
        counting.reset();
        for (uint32_t i = 0; i < 1000; ++i) tc.AppendRow(1000000 + round * 1000 + i, Row(i));
        PutNode(*db, large, tc.Write(), subnodes);
        db->Commit();
        EXPECT_LE(counting.blocksWritten, 40u) << "round " << round;
    }
    auto findings = VerifyHeapNode(*db, db->FindNode(large)->data, subnodes);
    EXPECT_TRUE(findings.empty()) << findings.front();
    EXPECT_EQ(tc.RowCount(), 53010u);
    db.reset();
    ExpectSound(path);
}

}  // namespace
}  // namespace pst::ltp
