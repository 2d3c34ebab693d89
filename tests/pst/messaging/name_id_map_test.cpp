#include "pst/messaging/name_id_map.h"

#include <gtest/gtest.h>

#include <string>

namespace pst::messaging {
namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const PropertyValue* Find(const std::vector<PropertyValue>& props, uint32_t tag) {
    for (const auto& p : props)
        if (p.Tag() == tag) return &p;
    return nullptr;
}

// Values of node 0x61 in a data file Outlook created: the prefilled map must hash and lay out
// its names exactly so.
TEST(NameIdMapTest, PrefilledMapMatchesANewOutlookFile) {
    auto props = NameIdMap::Prefilled().ToProperties();
    ASSERT_NE(Find(props, 0x00010003), nullptr);
    EXPECT_EQ(Find(props, 0x00010003)->AsInt32(), 251);
    EXPECT_EQ(Find(props, 0x00020102)->Bytes(),
              Hex("0220060000000000c0000000000000468603020000000000c0000000000000460820060000000"
                  "000c000000000000046138ff241f4831441a584eedb5a6b0bff1420060000000000c00000000000"
                  "00460320060000000000c000000000000046"));
    const auto& entries = Find(props, 0x00030102)->Bytes();
    ASSERT_EQ(entries.size(), 35u * 8);
    EXPECT_EQ(std::vector<uint8_t>(entries.begin(), entries.begin() + 100),
              Hex("05820000060000002382000006000100318200000600020016820000060003000d82000006000400"
                  "0e8200000600050035820000060006003682000006000700338200000600080000000000090009"
                  "002000000005000a003800000009000b0060000000"));
    EXPECT_EQ(std::vector<uint8_t>(Find(props, 0x00040102)->Bytes().begin(),
                                   Find(props, 0x00040102)->Bytes().begin() + 30),
              Hex("1a00000063006f006e00740065006e0074002d0063006c00610073007300"));
    // Numeric names, string names (CRC keyed) and a bucket holding two entries.
    EXPECT_EQ(Find(props, 0x10970102)->Bytes(), Hex("0582000006000000"));
    EXPECT_EQ(Find(props, 0x10e70102)->Bytes(), Hex("b38ab16409000b00"));
    EXPECT_EQ(Find(props, 0x10ce0102)->Bytes(), Hex("658f00e609000900"));
    EXPECT_EQ(Find(props, 0x10a40102)->Bytes(), Hex("16820000060003000581000010001b00"));
    size_t buckets = 0;
    for (const auto& p : props) buckets += (p.Id() >= 0x1000 && p.Id() < 0x1000 + 251);
    EXPECT_EQ(buckets, 34u);
}

TEST(NameIdMapTest, NewNamesGetTheNextIdsAndSurviveARoundTrip) {
    NameIdMap map = NameIdMap::Prefilled();
    EXPECT_FALSE(map.Dirty());
    PropertyName numeric{kPsMapi, uint32_t(0x1234)};
    PropertyName text{{0x86, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46},
                      std::u16string(u"X-Mailer")};
    std::array<uint8_t, 16> otherGuid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    PropertyName fresh{otherGuid, std::u16string(u"Grüße")};

    EXPECT_EQ(map.IdFor(numeric), 0x8023);
    EXPECT_EQ(map.IdFor(text), 0x8024);
    EXPECT_EQ(map.IdFor(fresh), 0x8025);
    EXPECT_EQ(map.IdFor(numeric), 0x8023);  // the same name keeps its id
    EXPECT_TRUE(map.Dirty());
    // A name differing only in its property set is another name.
    EXPECT_EQ(map.IdFor(PropertyName{otherGuid, uint32_t(0x1234)}), 0x8026);

    NameIdMap back = NameIdMap::FromProperties(map.ToProperties());
    EXPECT_EQ(back.size(), 39u);
    EXPECT_EQ(back.Find(text), 0x8024);
    EXPECT_EQ(back.Find(fresh), 0x8025);
    ASSERT_NE(back.NameOf(0x8025), nullptr);
    EXPECT_EQ(*back.NameOf(0x8025), fresh);
    EXPECT_EQ(back.NameOf(0x8027), nullptr);
    EXPECT_EQ(back.ToProperties().size(), map.ToProperties().size());
}

TEST(NameIdMapTest, MalformedStreamsAreRejected) {
    auto props = NameIdMap::Prefilled().ToProperties();
    for (auto& p : props) {
        if (p.Tag() == 0x00030102) {
            std::vector<uint8_t> bytes = p.Bytes();
            bytes[8 * 9 + 4] = 0xFF;  // entry 9 names GUID 127, beyond the stream
            p = PropertyValue(p.Tag(), bytes);
        }
    }
    EXPECT_THROW(NameIdMap::FromProperties(props), std::runtime_error);
    EXPECT_THROW(NameIdMap::FromProperties({}), std::runtime_error);
}

}  // namespace
}  // namespace pst::messaging
