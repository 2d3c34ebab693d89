#include <gtest/gtest.h>

#include "pst/ndb/bytes.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ReadAll;
using testing::ScratchDir;

TEST(NewFile, HasTheFreshLayoutAndVerifies) {
    ScratchDir dir;
    const auto path = dir / "new.pst";
    {
        auto f = PstFile::Create(path);
        EXPECT_EQ(f->FileSize(), 271360u);
        EXPECT_EQ(f->GetEncoding(), Encoding::Permute);
    }
    const auto raw = ReadAll(path);
    ASSERT_EQ(raw.size(), 271360u);
    EXPECT_EQ(Get16(&raw[10]), 23);  // wVer
    EXPECT_EQ(Get16(&raw[12]), 19);  // wVerClient
    EXPECT_EQ(raw[513], 1);          // permute encoding
    EXPECT_EQ(raw[248], 2);          // fAMapValid
    EXPECT_EQ(Get64(&raw[184]), 271360u);
    EXPECT_EQ(Get64(&raw[192]), 0x4400u);
    // Four pages are in use: AMap, PMap, and the two empty B-tree roots.
    EXPECT_EQ(Get64(&raw[200]), 253952u - 4 * 512);
    EXPECT_EQ(Get32(&raw[44 + 4 * 4]), 0x10000u);  // rgnid[message]
    EXPECT_EQ(raw[0x4200 + 496], kPtypeDList);
    EXPECT_EQ(raw[0x4400 + 496], kPtypeAMap);
    EXPECT_EQ(raw[0x4600 + 496], kPtypePMap);
    EXPECT_EQ(raw[0x4400], 0xFF);
    EXPECT_EQ(raw[0x4401], 0xFF);

    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    size_t nodes = 0;
    f->ForEachNode([&](const NodeEntry&) { ++nodes; });
    EXPECT_EQ(nodes, 0u);
}

TEST(NewFile, CreateRefusesAFileWithContent) {
    ScratchDir dir;
    const auto path = dir / "taken.pst";
    testing::WriteAll(path, {1, 2, 3});
    EXPECT_THROW(PstFile::Create(path), NdbError);
    EXPECT_EQ(ReadAll(path), (std::vector<uint8_t>{1, 2, 3}));
    testing::WriteAll(path, {});
    auto f = PstFile::CreateOrOpen(path);  // an empty file counts as new
    EXPECT_EQ(f->FileSize(), 271360u);
}

class RoundTrip : public ::testing::TestWithParam<Encoding> {};

struct StreamCase {
    size_t size;
    size_t leaves;
};
const StreamCase kStreams[] = {
    {0, 1}, {1, 1}, {8176, 1}, {8177, 2}, {1021 * 8176, 1021}, {1021 * 8176 + 1, 1022},
};
const size_t kSubnodeCounts[] = {1, 340, 341, 600};

// The two data trees of about 8 MB only matter once: encoding works block by block.
size_t StreamCount(Encoding e) {
    return e == Encoding::Permute ? std::size(kStreams) : 4;
}

TEST_P(RoundTrip, StreamsAndSubnodeTreesReadBackExactly) {
    ScratchDir dir;
    const auto path = dir / "rt.pst";
    std::vector<Bid> firstLeaf;
    {
        auto f = PstFile::Create(path, GetParam());
        for (size_t i = 0; i < StreamCount(GetParam()); ++i) {
            const auto bytes = Pattern(kStreams[i].size, static_cast<uint32_t>(i));
            const Bid data = f->WriteStream(bytes);
            const Nid nid = f->AllocateNid(kNidTypeNormalMessage);
            f->PutNode({nid, data, 0, MakeNid(kNidTypeNormalFolder, 1)});
            // Uncommitted changes are visible to reads.
            EXPECT_EQ(f->ReadStream(data), bytes) << kStreams[i].size;
            firstLeaf.push_back(f->DataBlocks(data).front());
        }
        for (size_t count : kSubnodeCounts) {
            SubnodeMap map;
            for (size_t j = 0; j < count; ++j) {
                const Bid data = f->WriteStream(Pattern(10 + j % 7, static_cast<uint32_t>(j)));
                map[MakeNid(kNidTypeLtp, static_cast<uint32_t>(j * 3 + 1))] = {data, 0};
            }
            // A nested subnode tree under the first entry.
            SubnodeMap inner{{MakeNid(kNidTypeLtp, 1), {f->WriteStream(Pattern(5, 99)), 0}}};
            map.begin()->second.sub = f->WriteSubnodes(inner);
            const Bid sub = f->WriteSubnodes(map);
            EXPECT_EQ(f->ReadSubnodes(sub), map);
            const Bid data = f->WriteStream(Pattern(100, 7));
            f->PutNode({f->AllocateNid(kNidTypeNormalMessage), data, sub, 0});
        }
        f->Commit();
    }
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();

    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_EQ(f->GetEncoding(), GetParam());
    Nid nid = MakeNid(kNidTypeNormalMessage, 0x10001);
    for (size_t i = 0; i < StreamCount(GetParam()); ++i, nid += 32) {
        auto node = f->FindNode(nid);
        ASSERT_TRUE(node) << i;
        EXPECT_EQ(node->parent, MakeNid(kNidTypeNormalFolder, 1));
        EXPECT_EQ(f->StreamSize(node->data), kStreams[i].size);
        EXPECT_EQ(f->DataBlocks(node->data).size(), kStreams[i].leaves);
        EXPECT_EQ(f->ReadStream(node->data), Pattern(kStreams[i].size, static_cast<uint32_t>(i)));
    }
    for (size_t count : kSubnodeCounts) {
        auto node = f->FindNode(nid);
        nid += 32;
        ASSERT_TRUE(node);
        const SubnodeMap map = f->ReadSubnodes(node->sub);
        ASSERT_EQ(map.size(), count);
        size_t j = 0;
        for (const auto& [sn, e] : map) {
            EXPECT_EQ(sn, MakeNid(kNidTypeLtp, static_cast<uint32_t>(j * 3 + 1)));
            EXPECT_EQ(f->ReadStream(e.data), Pattern(10 + j % 7, static_cast<uint32_t>(j)));
            ++j;
        }
        const SubnodeMap inner = f->ReadSubnodes(map.begin()->second.sub);
        ASSERT_EQ(inner.size(), 1u);
        EXPECT_EQ(f->ReadStream(inner.begin()->second.data), Pattern(5, 99));
    }

    // The stored bytes are encoded unless the method is None.
    const auto raw = ReadAll(path);
    const auto leaf = f->FindBlock(firstLeaf[2]);  // the 8176-byte stream
    ASSERT_TRUE(leaf);
    const std::vector<uint8_t> stored(raw.begin() + static_cast<ptrdiff_t>(leaf->ib),
                                      raw.begin() + static_cast<ptrdiff_t>(leaf->ib + 8176));
    EXPECT_EQ(stored == Pattern(8176, 2), GetParam() == Encoding::None);
}

INSTANTIATE_TEST_SUITE_P(Encodings, RoundTrip,
                         ::testing::Values(Encoding::None, Encoding::Permute, Encoding::Cyclic),
                         [](const auto& info) {
                             return std::string(info.param == Encoding::None      ? "None"
                                                : info.param == Encoding::Permute ? "Permute"
                                                                                  : "Cyclic");
                         });

TEST(RoundTrip, ReopenedForWritingKeepsEncodingAndAddsNodes) {
    ScratchDir dir;
    const auto path = dir / "again.pst";
    PstFile::Create(path, Encoding::Cyclic);
    for (uint32_t round = 0; round < 3; ++round) {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        EXPECT_EQ(f->GetEncoding(), Encoding::Cyclic);
        f->PutNode({MakeNid(kNidTypeNormalMessage, 100 + round), f->WriteStream(Pattern(50, round)),
                    0, 0});
        f->Commit();
    }
    EXPECT_TRUE(VerifyFile(path).empty());
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    for (uint32_t round = 0; round < 3; ++round) {
        auto node = f->FindNode(MakeNid(kNidTypeNormalMessage, 100 + round));
        ASSERT_TRUE(node);
        EXPECT_EQ(f->ReadStream(node->data), Pattern(50, round));
    }
}

TEST(RoundTrip, MisuseIsRefusedWithAMessage) {
    ScratchDir dir;
    const auto path = dir / "misuse.pst";
    auto f = PstFile::Create(path);
    const std::vector<uint8_t> tooBig(8177);
    EXPECT_THROW(f->WriteBlock(tooBig), NdbError);
    EXPECT_THROW(f->PutNode({MakeNid(kNidTypeNormalMessage, 1), 0x1234, 0, 0}), NdbError);
    const Bid leaf = f->WriteBlock(Pattern(3, 1));
    EXPECT_THROW(f->PutNode({MakeNid(kNidTypeNormalMessage, 1), leaf, leaf, 0}), NdbError);
    EXPECT_THROW(f->RemoveNode(MakeNid(kNidTypeNormalMessage, 1)), NdbError);
    const Bid tree = f->WriteDataTree(std::vector<Bid>{leaf, leaf});
    EXPECT_THROW(f->ReadBlock(tree), NdbError);
    f->Commit();
    f.reset();
    auto ro = PstFile::Open(path, PstFile::Mode::ReadOnly);
    try {
        ro->WriteBlock(Pattern(3, 1));
        FAIL() << "a read-only file accepted a write";
    } catch (const NdbError& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace pst::ndb
