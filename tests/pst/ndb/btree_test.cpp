#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ScratchDir;

std::vector<uint8_t> Content(Nid nid) {
    return Pattern(8 + nid % 50, nid);
}

void ExpectSound(const std::filesystem::path& path) {
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty())
        << report.errors.size() << " errors, first: " << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
}

// Nodes arrive in random order, get replaced and removed; levels grow and shrink again.
TEST(NodeTree, TwentyThousandNodesInRandomOrderThenRemoved) {
    ScratchDir dir;
    const auto path = dir / "tree.pst";
    std::vector<Nid> nids;
    for (uint32_t i = 1; i <= 20000; ++i) nids.push_back(MakeNid(kNidTypeNormalMessage, i));
    std::mt19937 rng(7);
    std::shuffle(nids.begin(), nids.end(), rng);
    const Nid folder = MakeNid(kNidTypeNormalFolder, 9);
    {
        auto f = PstFile::Create(path);
        // One block shared by every tenth node: its count reaches into the thousands.
        const Bid shared = f->WriteBlock(Pattern(30, 1));
        for (size_t i = 0; i < nids.size(); ++i) {
            const Bid data =
                NidIndexOf(nids[i]) % 10 == 0 ? shared : f->WriteBlock(Content(nids[i]));
            f->PutNode({nids[i], data, 0, folder});
            if (i % 5000 == 4999) f->Commit();
        }
        EXPECT_EQ(f->FindBlock(shared)->cRef, 1 + 2000);
        EXPECT_GE(f->NbtLevels(), 2);
        EXPECT_GE(f->BbtLevels(), 2);
    }
    ExpectSound(path);
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
        std::vector<Nid> seen;
        f->ForEachNode([&](const NodeEntry& n) { seen.push_back(n.nid); });
        std::vector<Nid> sorted = nids;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(seen, sorted);
        for (size_t i = 0; i < nids.size(); i += 7) {
            const auto n = f->FindNode(nids[i]);
            ASSERT_TRUE(n);
            if (NidIndexOf(nids[i]) % 10 != 0) {
                EXPECT_EQ(f->ReadBlock(n->data), Content(nids[i]));
            }
        }
        EXPECT_FALSE(f->FindNode(MakeNid(kNidTypeNormalMessage, 20001)));
    }
    const uint64_t grownSize = std::filesystem::file_size(path);
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        // Replace a few, then remove all but ten in another random order.
        for (size_t i = 0; i < 100; ++i) {
            f->PutNode({nids[i], f->WriteBlock(Pattern(12, static_cast<uint32_t>(i))), 0, folder});
        }
        std::shuffle(nids.begin(), nids.end(), rng);
        for (size_t i = 10; i < nids.size(); ++i) {
            f->RemoveNode(nids[i]);
            if (i == 10000) {
                f->Commit();
                f.reset();
                ExpectSound(path);
                f = PstFile::Open(path, PstFile::Mode::ReadWrite);
            }
        }
        f->Commit();
        EXPECT_EQ(f->NbtLevels(), 0);
        EXPECT_LE(f->BbtLevels(), 1);
    }
    ExpectSound(path);
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    size_t left = 0;
    f->ForEachNode([&](const NodeEntry&) { ++left; });
    EXPECT_EQ(left, 10u);
    // Freed space is free again, not lost; copy-on-write needs some room while pages move.
    const uint64_t size = std::filesystem::file_size(path);
    EXPECT_LE(size, grownSize + 3 * 253952);
    EXPECT_GT(f->FreeBytes(), size - 300000);
}

// Appending keys keeps pages about 90% full instead of half full.
TEST(NodeTree, AppendedNodesFillPagesDensely) {
    ScratchDir dir;
    const auto path = dir / "dense.pst";
    {
        auto f = PstFile::Create(path);
        const Bid data = f->WriteBlock(Pattern(10, 3));
        for (int i = 0; i < 6000; ++i) {
            f->PutNode({f->AllocateNid(kNidTypeNormalMessage), data, 0, 0});
        }
        f->Commit();
    }
    const VerifyReport report = VerifyFileReport(path);
    ASSERT_TRUE(report.errors.empty()) << report.errors.front();
    // 6000 entries at 15 a page need 400 leaves; half-full splits would need 750.
    EXPECT_LT(report.pages, 6000u / 12 + 10);
}

}  // namespace
}  // namespace pst::ndb
