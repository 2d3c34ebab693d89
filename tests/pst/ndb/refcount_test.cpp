#include <gtest/gtest.h>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ScratchDir;

void ExpectSound(const std::filesystem::path& path) {
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
}

uint16_t RefCount(const PstFile& f, Bid bid) {
    const auto e = f.FindBlock(bid);
    return e ? e->cRef : 0;
}

// A long row matrix is appended to by rewriting only its last block: the new data tree
// shares every other leaf with the old one, and replacing the node frees just the old leaf.
TEST(RefCounts, RewritingTheLastLeafFreesOnlyThatLeaf) {
    ScratchDir dir;
    const auto path = dir / "rows.pst";
    auto f = PstFile::Create(path);
    const Nid nid = MakeNid(kNidTypeContentsTable, 7);
    std::vector<Bid> leaves;
    for (uint32_t i = 0; i < 5; ++i) leaves.push_back(f->WriteBlock(Pattern(8176, i)));
    const Bid oldTree = f->WriteDataTree(leaves);
    f->PutNode({nid, oldTree, 0, 0});
    f->Commit();
    for (Bid leaf : leaves) EXPECT_EQ(RefCount(*f, leaf), 2);

    const Bid oldLast = leaves.back();
    leaves.back() = f->WriteBlock(Pattern(100, 77));
    const Bid newTree = f->WriteDataTree(leaves);
    for (size_t i = 0; i + 1 < leaves.size(); ++i) EXPECT_EQ(RefCount(*f, leaves[i]), 3);
    f->PutNode({nid, newTree, 0, 0});
    f->Commit();

    EXPECT_EQ(RefCount(*f, oldTree), 0);
    EXPECT_EQ(RefCount(*f, oldLast), 0);
    for (Bid leaf : leaves) EXPECT_EQ(RefCount(*f, leaf), 2);
    EXPECT_EQ(RefCount(*f, newTree), 2);
    auto expected = Pattern(8176 * 4, 0);
    for (uint32_t i = 0; i < 4; ++i) {
        const auto part = Pattern(8176, i);
        std::copy(part.begin(), part.end(), expected.begin() + 8176 * i);
    }
    const auto tail = Pattern(100, 77);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(f->ReadStream(newTree), expected);
    f.reset();
    ExpectSound(path);
}

// Nodes and subnode entries count separately; the last release frees the block and the
// subnode tree that held it.
TEST(RefCounts, SharedBlockLivesUntilItsLastReference) {
    ScratchDir dir;
    const auto path = dir / "shared.pst";
    auto f = PstFile::Create(path);
    const Bid shared = f->WriteBlock(Pattern(40, 1));
    const Nid a = MakeNid(kNidTypeNormalMessage, 1);
    const Nid b = MakeNid(kNidTypeNormalMessage, 2);
    const Nid c = MakeNid(kNidTypeNormalMessage, 3);
    f->PutNode({a, shared, 0, 0});
    f->PutNode({b, shared, 0, 0});
    const Bid sub = f->WriteSubnodes({{MakeNid(kNidTypeLtp, 1), {shared, 0}}});
    f->PutNode({c, f->WriteBlock(Pattern(5, 2)), sub, 0});
    f->Commit();
    EXPECT_EQ(RefCount(*f, shared), 4);
    f->RemoveNode(a);
    f->RemoveNode(b);
    f->Commit();
    EXPECT_EQ(RefCount(*f, shared), 2);
    f->RemoveNode(c);
    f->Commit();
    EXPECT_EQ(RefCount(*f, shared), 0);
    EXPECT_EQ(RefCount(*f, sub), 0);
    f.reset();
    ExpectSound(path);
}

TEST(RefCounts, UnreferencedBlocksAreDroppedAtCommit) {
    ScratchDir dir;
    const auto path = dir / "drop.pst";
    auto f = PstFile::Create(path);
    const uint64_t freeAtStart = f->FreeBytes();
    const Bid loose = f->WriteBlock(Pattern(500, 1));
    const Bid tree = f->WriteStream(Pattern(20000, 2));
    const auto treeLeaves = f->DataBlocks(tree);
    const Bid kept = f->WriteBlock(Pattern(64, 3));
    f->PutNode({MakeNid(kNidTypeNormalMessage, 1), kept, 0, 0});
    f->Commit();
    EXPECT_EQ(RefCount(*f, loose), 0);
    EXPECT_EQ(RefCount(*f, tree), 0);
    for (Bid leaf : treeLeaves) EXPECT_EQ(RefCount(*f, leaf), 0);
    EXPECT_EQ(RefCount(*f, kept), 2);
    // What is left: one block of 128 bytes and the pages of two one-leaf trees.
    EXPECT_EQ(freeAtStart - f->FreeBytes(), 128u);
    f.reset();
    ExpectSound(path);
}

// Space of a block made and dropped in one transaction is reused at once; space the last
// commit still reaches is not reused before the next commit.
TEST(RefCounts, FreedSpaceIsReusedOnlyWhenTheLastCommitNoLongerReachesIt) {
    ScratchDir dir;
    const auto path = dir / "reuse.pst";
    auto f = PstFile::Create(path);
    const Nid nid = MakeNid(kNidTypeNormalMessage, 1);
    const Bid first = f->WriteBlock(Pattern(1000, 1));
    const Ib firstIb = f->FindBlock(first)->ib;
    f->PutNode({nid, first, 0, 0});
    f->RemoveNode(nid);
    const Bid second = f->WriteBlock(Pattern(1000, 2));
    EXPECT_EQ(f->FindBlock(second)->ib, firstIb);
    f->PutNode({nid, second, 0, 0});
    f->Commit();

    f->PutNode({nid, f->WriteBlock(Pattern(1000, 3)), 0, 0});  // releases `second`
    const Bid fourth = f->WriteBlock(Pattern(1000, 4));
    EXPECT_NE(f->FindBlock(fourth)->ib, firstIb);
    f->PutNode({MakeNid(kNidTypeNormalMessage, 2), fourth, 0, 0});
    f->Commit();
    const Bid fifth = f->WriteBlock(Pattern(1000, 5));
    EXPECT_EQ(f->FindBlock(fifth)->ib, firstIb);
    f->PutNode({MakeNid(kNidTypeNormalMessage, 3), fifth, 0, 0});
    f->Commit();
    f.reset();
    ExpectSound(path);
}

}  // namespace
}  // namespace pst::ndb
