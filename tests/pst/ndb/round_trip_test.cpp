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
        EXPECT_EQ(f->fileSize(), 271360u);
        EXPECT_EQ(f->encoding(), Encoding::Permute);
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
    f->forEachNode([&](const NodeEntry&) { ++nodes; });
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
    EXPECT_EQ(f->fileSize(), 271360u);
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
            const Bid data = f->writeStream(bytes);
            const Nid nid = f->allocateNid(kNidTypeNormalMessage);
            f->putNode({nid, data, 0, MakeNid(kNidTypeNormalFolder, 1)});
            // Uncommitted changes are visible to reads.
            EXPECT_EQ(f->readStream(data), bytes) << kStreams[i].size;
            firstLeaf.push_back(f->dataBlocks(data).front());
        }
        for (size_t count : kSubnodeCounts) {
            SubnodeMap map;
            for (size_t j = 0; j < count; ++j) {
                const Bid data = f->writeStream(Pattern(10 + j % 7, static_cast<uint32_t>(j)));
                map[MakeNid(kNidTypeLtp, static_cast<uint32_t>(j * 3 + 1))] = {data, 0};
            }
            // A nested subnode tree under the first entry.
            SubnodeMap inner{{MakeNid(kNidTypeLtp, 1), {f->writeStream(Pattern(5, 99)), 0}}};
            map.begin()->second.sub = f->writeSubnodes(inner);
            const Bid sub = f->writeSubnodes(map);
            EXPECT_EQ(f->readSubnodes(sub), map);
            const Bid data = f->writeStream(Pattern(100, 7));
            f->putNode({f->allocateNid(kNidTypeNormalMessage), data, sub, 0});
        }
        f->commit();
    }
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();

    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_EQ(f->encoding(), GetParam());
    Nid nid = MakeNid(kNidTypeNormalMessage, 0x10001);
    for (size_t i = 0; i < StreamCount(GetParam()); ++i, nid += 32) {
        auto node = f->findNode(nid);
        ASSERT_TRUE(node) << i;
        EXPECT_EQ(node->parent, MakeNid(kNidTypeNormalFolder, 1));
        EXPECT_EQ(f->streamSize(node->data), kStreams[i].size);
        EXPECT_EQ(f->dataBlocks(node->data).size(), kStreams[i].leaves);
        EXPECT_EQ(f->readStream(node->data), Pattern(kStreams[i].size, static_cast<uint32_t>(i)));
    }
    for (size_t count : kSubnodeCounts) {
        auto node = f->findNode(nid);
        nid += 32;
        ASSERT_TRUE(node);
        const SubnodeMap map = f->readSubnodes(node->sub);
        ASSERT_EQ(map.size(), count);
        size_t j = 0;
        for (const auto& [sn, e] : map) {
            EXPECT_EQ(sn, MakeNid(kNidTypeLtp, static_cast<uint32_t>(j * 3 + 1)));
            EXPECT_EQ(f->readStream(e.data), Pattern(10 + j % 7, static_cast<uint32_t>(j)));
            ++j;
        }
        const SubnodeMap inner = f->readSubnodes(map.begin()->second.sub);
        ASSERT_EQ(inner.size(), 1u);
        EXPECT_EQ(f->readStream(inner.begin()->second.data), Pattern(5, 99));
    }

    // The stored bytes are encoded unless the method is None.
    const auto raw = ReadAll(path);
    const auto leaf = f->findBlock(firstLeaf[2]);  // the 8176-byte stream
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
        EXPECT_EQ(f->encoding(), Encoding::Cyclic);
        f->putNode({MakeNid(kNidTypeNormalMessage, 100 + round), f->writeStream(Pattern(50, round)),
                    0, 0});
        f->commit();
    }
    EXPECT_TRUE(VerifyFile(path).empty());
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    for (uint32_t round = 0; round < 3; ++round) {
        auto node = f->findNode(MakeNid(kNidTypeNormalMessage, 100 + round));
        ASSERT_TRUE(node);
        EXPECT_EQ(f->readStream(node->data), Pattern(50, round));
    }
}

TEST(RoundTrip, MisuseIsRefusedWithAMessage) {
    ScratchDir dir;
    const auto path = dir / "misuse.pst";
    auto f = PstFile::Create(path);
    const std::vector<uint8_t> tooBig(8177);
    EXPECT_THROW(f->writeBlock(tooBig), NdbError);
    EXPECT_THROW(f->putNode({MakeNid(kNidTypeNormalMessage, 1), 0x1234, 0, 0}), NdbError);
    const Bid leaf = f->writeBlock(Pattern(3, 1));
    EXPECT_THROW(f->putNode({MakeNid(kNidTypeNormalMessage, 1), leaf, leaf, 0}), NdbError);
    EXPECT_THROW(f->removeNode(MakeNid(kNidTypeNormalMessage, 1)), NdbError);
    const Bid tree = f->writeDataTree(std::vector<Bid>{leaf, leaf});
    EXPECT_THROW(f->readBlock(tree), NdbError);
    f->commit();
    f.reset();
    auto ro = PstFile::Open(path, PstFile::Mode::ReadOnly);
    try {
        ro->writeBlock(Pattern(3, 1));
        FAIL() << "a read-only file accepted a write";
    } catch (const NdbError& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace pst::ndb
