#include "pst/ltp/property_context.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "pst/ltp/byte_io.h"
#include "tests/pst/ltp/memory_node_database.h"
#include "tests/pst/ltp/test_values.h"

namespace pst::ltp {
namespace {

using testing::Bytes;
using testing::EveryType;
using testing::Generator;
using testing::Le;
using testing::MemoryNodeDatabase;

void ExpectSame(const std::vector<PropertyValue>& got, const std::vector<PropertyValue>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].Tag(), want[i].Tag()) << i;
        EXPECT_EQ(got[i].Bytes(), want[i].Bytes()) << "tag " << Hex(want[i].Tag());
    }
}

TEST(PropertyContext, EveryTypeRoundTripsThroughTheNode) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    auto values = EveryType();
    ndb::Bid data = PropertyContext::Write(db, subnodes, values);
    // Only the two values over 3580 bytes became subnodes, with distinct 0x1F NIDs.
    ASSERT_EQ(subnodes.size(), 2u);
    for (const auto& [nid, e] : subnodes) EXPECT_EQ(ndb::NidTypeOf(nid), ndb::kNidTypeLtp);
    ndb::Bid sub = db.WriteSubnodes(subnodes);

    ndb::SubnodeMap reread = db.ReadSubnodes(sub);
    PropertyContext pc(db, reread, data);
    ExpectSame(pc.GetAll(), values);
    EXPECT_EQ(pc.ValueSize(0x0012), 100u * 1024);
    EXPECT_EQ(pc.Get(0x000D)->AsUtf8(), "Grüße, 世界 𝄞");
    EXPECT_TRUE(pc.Get(0x0008)->AsBool());
    EXPECT_EQ(pc.Get(0x0001)->Bytes(), Le(0xFFFE, 2));
    EXPECT_FALSE(pc.Get(0x0100).has_value());
}

TEST(PropertyContext, RecordsUseTheFormatsLayout) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    auto values = EveryType();
    PropertyContext pc(db, subnodes, PropertyContext::Write(db, subnodes, values));
    const Heap& heap = pc.GetHeap();
    EXPECT_EQ(heap.ClientSig(), 0xBC);
    auto hdr = heap.Read(heap.UserRoot());
    EXPECT_EQ(heap.UserRoot(), 0x20u);
    EXPECT_EQ(hdr, (std::vector<uint8_t>{0xB5, 2, 6, 0, hdr[4], hdr[5], hdr[6], hdr[7]}));
    EXPECT_EQ(Get32(hdr, 4), 0x40u);  // the records right after their header
    auto records = heap.Read(Get32(hdr, 4));
    ASSERT_EQ(records.size(), values.size() * 8);
    auto rec = [&](uint16_t id) {
        for (size_t off = 0; off < records.size(); off += 8) {
            if (Get16(records, off) == id)
                return std::make_pair(Get16(records, off + 2), Get32(records, off + 4));
        }
        ADD_FAILURE() << "no record " << id;
        return std::make_pair(uint16_t(0), uint32_t(0));
    };
    EXPECT_EQ(rec(0x0001), std::make_pair(uint16_t(kPtypInteger16), 0xFFFEu));
    EXPECT_EQ(rec(0x0008).second, 1u);
    EXPECT_EQ(heap.ItemSize(rec(0x0004).second), 8u);
    EXPECT_EQ(heap.ItemSize(rec(0x000C).second), 16u);
    EXPECT_EQ(rec(0x000E).second, 0u);  // empty string: HNID 0
    EXPECT_EQ(heap.ItemSize(rec(0x0010).second), 3580u);
    EXPECT_FALSE(IsHid(rec(0x0011).second));
    EXPECT_EQ(heap.ItemSize(rec(0x0014).second), 8u);
    EXPECT_EQ(rec(0x0014).first, kPtypObject);
}

TEST(PropertyContext, SetReplaceAndRemoveReleaseOldValues) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    ndb::Bid data = PropertyContext::Write(
        db, subnodes,
        std::vector<PropertyValue>{PropertyValue::Binary(0x10000102, Bytes(9000, 1)),
                                   PropertyValue::StringUtf8(0x0037001F, "subject"),
                                   PropertyValue::Int32(0x0E070003, 1)});
    ASSERT_EQ(subnodes.size(), 1u);

    PropertyContext pc(db, subnodes, data);
    pc.Set(PropertyValue::Binary(0x10000102, Bytes(10, 2)));  // large -> small: subnode dropped
    EXPECT_TRUE(subnodes.empty());
    pc.Set(PropertyValue::StringUtf8(0x0037001F, std::string(5000, 'x')));  // small -> subnode
    ASSERT_EQ(subnodes.size(), 1u);
    EXPECT_NE(subnodes.begin()->first, 0x3Fu);
    pc.Set(PropertyValue::Bool(0x0E07000B, true));  // same id, new type
    EXPECT_TRUE(pc.Remove(0x0037));
    EXPECT_FALSE(pc.Remove(0x0037));
    EXPECT_TRUE(subnodes.empty());

    PropertyContext back(db, subnodes, pc.Write());
    ExpectSame(back.GetAll(), {PropertyValue::Bool(0x0E07000B, true),
                               PropertyValue::Binary(0x10000102, Bytes(10, 2))});
    // No leaked items: the BTH header, its records and the 10-byte value.
    EXPECT_EQ(back.GetHeap().ItemCount(), 3u);
}

TEST(PropertyContext, RefusesValuesThatDoNotMatchTheirType) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    PropertyContext pc(db, subnodes);
    EXPECT_THROW(pc.Set(PropertyValue(0x00010003, {1, 2})), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x00020040, Bytes(4, 0))), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x0003001F, Bytes(3, 0))), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x00041003, Bytes(6, 0))), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x0005101F, Le(5, 4))), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x0006000D, Bytes(4, 0))), std::invalid_argument);
    EXPECT_THROW(pc.Set(PropertyValue(0x00070001, Bytes(4, 0))), std::invalid_argument);
    EXPECT_TRUE(pc.Tags().empty());
    pc.Set(PropertyValue(0x000800FB, Bytes(10, 0)));  // a server id: opaque bytes
    EXPECT_EQ(pc.Tags(), std::vector<uint32_t>{0x000800FB});
}

TEST(PropertyContext, StreamedValueIsWrittenAndReadBlockByBlock) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    const uint64_t size = 20u * 1024 * 1024 + 333;
    PropertyContext pc(db, subnodes);
    pc.Set(PropertyValue::Stream(0x37010102, size, Generator(size, 65536 + 7)));
    pc.Set(PropertyValue::Stream(0x37020102, 100, Generator(100, 30)));  // small: in the heap
    ndb::Bid data = pc.Write();
    EXPECT_EQ(subnodes.size(), 1u);
    EXPECT_EQ(db.counts().dataBlocks, (size + 8175) / 8176 + 1);

    PropertyContext back(db, subnodes, data);
    EXPECT_EQ(back.ValueSize(0x3701), size);
    // Compare chunk by chunk against a regenerated stream; no chunk exceeds one block.
    std::vector<uint8_t> want;
    Generator(size, 65536)(
        [&](std::span<const uint8_t> c) { want.insert(want.end(), c.begin(), c.end()); });
    uint64_t offset = 0;
    size_t largest = 0;
    bool same = true;
    back.ReadChunks(0x3701, [&](std::span<const uint8_t> c) {
        largest = std::max(largest, c.size());
        same = same && std::equal(c.begin(), c.end(), want.begin() + offset);
        offset += c.size();
    });
    EXPECT_TRUE(same);
    EXPECT_EQ(offset, size);
    EXPECT_LE(largest, ndb::kMaxBlockData);
    EXPECT_EQ(back.ValueSize(0x3702), 100u);

    // A producer that breaks its promised size is refused and leaves no property behind.
    EXPECT_THROW(pc.Set(PropertyValue::Stream(0x37030102, 5000, Generator(4000, 1000))),
                 std::runtime_error);
    EXPECT_THROW(pc.Set(PropertyValue::Stream(0x37030102, 5000, Generator(6000, 1000))),
                 std::runtime_error);
    EXPECT_FALSE(pc.TagOf(0x3703).has_value());
}

TEST(PropertyContext, ManyPropertiesSpreadOverSeveralHeapBlocks) {
    MemoryNodeDatabase db;
    ndb::SubnodeMap subnodes;
    std::vector<PropertyValue> values;
    for (uint16_t id = 1; id <= 600; ++id) {
        values.push_back(
            PropertyValue::Binary(MakeTag(id, kPtypBinary), Bytes(100 + id, uint8_t(id))));
    }
    ndb::Bid data = PropertyContext::Write(db, subnodes, values);
    EXPECT_TRUE(subnodes.empty());
    PropertyContext pc(db, subnodes, data);
    EXPECT_GT(pc.GetHeap().BlockCount(), 8u);
    ExpectSame(pc.GetAll(), values);
}

// Values whose records fit one leaf are laid out in one go; a value given twice takes the
// record-at-a-time way. An inline value repeated as it stands allocates nothing, so both ways
// must write the same bytes.
TEST(PropertyContext, ValuesLaidOutAtOnceAsOneAtATime) {
    auto values = EveryType();
    std::reverse(values.begin(), values.end());  // stored in the order given, not by id
    auto written = [](const std::vector<PropertyValue>& v) {
        MemoryNodeDatabase db;
        ndb::SubnodeMap subnodes;
        std::vector<std::vector<uint8_t>> bytes;
        for (ndb::Bid b : db.DataBlocks(PropertyContext::Write(db, subnodes, v)))
            bytes.push_back(db.ReadBlock(b));
        for (const auto& [nid, e] : subnodes)
            for (ndb::Bid b : db.DataBlocks(e.data)) bytes.push_back(db.ReadBlock(b));
        return bytes;
    };
    auto repeated = values;
    repeated.push_back(PropertyValue::Int32(MakeTag(0x0002, kPtypInteger32), -123456));
    EXPECT_EQ(written(values), written(repeated));
}

}  // namespace
}  // namespace pst::ltp
