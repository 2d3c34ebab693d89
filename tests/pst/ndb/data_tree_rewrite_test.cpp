#include <gtest/gtest.h>

#include "pst/ndb/block.h"
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

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A table of three XBLOCKs grows at its end at every commit: the two full XBLOCKs in front are
// kept, so a rewrite writes only the new leaf, the last XBLOCK and the XXBLOCK (BIDs count up
// by 4 per block). A later session, with no memory of the earlier writes, rewrites all three
// XBLOCKs once. Every leaf keeps exactly the one reference of the XBLOCK over it.
TEST(DataTreeRewrite, GrowingStreamKeepsItsUnchangedXBlocks) {
    ScratchDir dir;
    const auto path = dir / "grow.pst";
    const Nid nid = MakeNid(kNidTypeContentsTable, 9);
    std::vector<Bid> leaves;
    std::vector<std::vector<uint8_t>> parts;
    auto addLeaf = [&](PstFile& f) {
        parts.push_back(Pattern(40, static_cast<uint32_t>(parts.size())));
        leaves.push_back(f.WriteBlock(parts.back()));
    };
    auto f = PstFile::Create(path);
    for (int i = 0; i < 2100; ++i) addLeaf(*f);
    f->PutNode({nid, f->WriteDataTree(leaves), 0, 0});
    f->Commit();

    for (int round = 0; round < 4; ++round) {
        if (round == 2) {
            f.reset();
            f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        }
        const Bid oldRoot = f->FindNode(nid)->data;
        const Bid before = f->WriteBlock(Pattern(8, 0));  // unreferenced: dropped at commit
        addLeaf(*f);
        const Bid root = f->WriteDataTree(leaves);
        const Bid after = f->WriteBlock(Pattern(8, 0));
        EXPECT_EQ(after - before, round == 2 ? 24u : 16u) << "round " << round;
        f->PutNode({nid, root, 0, 0});
        f->Commit();
        EXPECT_EQ(RefCount(*f, oldRoot), 0);
        EXPECT_EQ(RefCount(*f, before), 0);
        EXPECT_EQ(RefCount(*f, root), 2);
        EXPECT_EQ(RefCount(*f, leaves.front()), 2);
        EXPECT_EQ(RefCount(*f, leaves[1500]), 2);
        EXPECT_EQ(RefCount(*f, leaves.back()), 2);
        ASSERT_EQ(f->ReadStream(root), Concat(parts));
    }
    f.reset();
    ExpectSound(path);
}

// Two streams share leaves (and, when identical, their XBLOCK). Rewriting one and removing the
// other in one transaction must leave each shared leaf counted once per XBLOCK over it.
TEST(DataTreeRewrite, SharedLeavesSurviveRewriteAndRemovalInOneTransaction) {
    ScratchDir dir;
    const auto path = dir / "shared.pst";
    const Nid a = MakeNid(kNidTypeContentsTable, 1);
    const Nid b = MakeNid(kNidTypeContentsTable, 2);
    auto f = PstFile::Create(path);
    std::vector<Bid> leaves;
    for (uint32_t i = 0; i < 10; ++i) leaves.push_back(f->WriteBlock(Pattern(300, i)));
    const Bid treeA = f->WriteDataTree(leaves);
    const Bid treeB = f->WriteDataTree(leaves);
    EXPECT_EQ(treeA, treeB);  // same leaves, same XBLOCK
    f->PutNode({a, treeA, 0, 0});
    f->PutNode({b, treeB, 0, 0});
    f->Commit();
    EXPECT_EQ(RefCount(*f, treeA), 3);
    for (Bid leaf : leaves) EXPECT_EQ(RefCount(*f, leaf), 2);

    std::vector<Bid> changed = leaves;
    changed.back() = f->WriteBlock(Pattern(300, 99));
    const Bid newA = f->WriteDataTree(changed);
    f->PutNode({a, newA, 0, 0});
    f->RemoveNode(b);
    f->Commit();
    EXPECT_EQ(RefCount(*f, treeA), 0);
    EXPECT_EQ(RefCount(*f, leaves.back()), 0);
    for (Bid leaf : changed) EXPECT_EQ(RefCount(*f, leaf), 2);
    std::vector<std::vector<uint8_t>> parts;
    for (uint32_t i = 0; i < 9; ++i) parts.push_back(Pattern(300, i));
    parts.push_back(Pattern(300, 99));
    EXPECT_EQ(f->ReadStream(newA), Concat(parts));
    f.reset();
    ExpectSound(path);
}

}  // namespace
}  // namespace pst::ndb
