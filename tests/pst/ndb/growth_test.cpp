#include <gtest/gtest.h>

#include "pst/ndb/bytes.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::ReadAll;
using testing::ScratchDir;

// Offsets from the format notes, written out rather than derived from our own formulas.
TEST(Layout, MapPagesSitWhereReadersLookForThem) {
    EXPECT_EQ(AMapOffset(0), 0x4400u);
    EXPECT_EQ(AMapOffset(1), 0x42400u);
    EXPECT_EQ(FileEofFor(1), 271360u);
    EXPECT_EQ(AMapOffset(128) + 0x400, 0x1F04800u);  // the first FMap
    EXPECT_EQ(AMapOffset(8192), 0x7C004400u);        // the first FPMap's interval
    EXPECT_EQ(MapPagesAt(0), 2u);                    // AMap, PMap
    EXPECT_EQ(MapPagesAt(1), 1u);
    EXPECT_EQ(MapPagesAt(128), 3u);  // AMap, PMap, FMap
    EXPECT_EQ(MapPagesAt(624), 3u);
    EXPECT_EQ(MapPagesAt(8192), 4u);  // AMap, PMap, FPMap and its copy
    EXPECT_FALSE(HasFMap(8192));
    EXPECT_EQ(BlockDiskSize(0), 64u);
    EXPECT_EQ(BlockDiskSize(48), 64u);
    EXPECT_EQ(BlockDiskSize(49), 128u);
    EXPECT_EQ(BlockDiskSize(8176), 8192u);
}

// A file of about 34 MB: growth interval by interval, PMaps every 8 intervals and the first
// FMap, none of which a block may overlap.
TEST(Growth, PastTheFirstFMap) {
    ScratchDir dir;
    const auto path = dir / "grow.pst";
    const std::vector<uint8_t> full(kMaxBlockData, 0x3C);
    {
        auto f = PstFile::Create(path);
        std::vector<Bid> leaves;
        for (int i = 0; i < 4200; ++i) leaves.push_back(f->WriteBlock(full));
        f->PutNode({MakeNid(kNidTypeLtp, 1), f->WriteDataTree(leaves), 0, 0});
        f->Commit();
        EXPECT_GT(f->FileSize(), AMapOffset(129));
        EXPECT_EQ((f->FileSize() - 0x4400) % 253952, 0u);
    }
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    const auto raw = ReadAll(path);
    EXPECT_EQ(raw[0x1F04800 + 496], kPtypeFMap);
    EXPECT_EQ(raw[AMapOffset(128) + 0x200 + 496], kPtypePMap);
    EXPECT_EQ(raw[AMapOffset(128)], 0xFF);
    EXPECT_EQ(raw[AMapOffset(128) + 1], 0xFF);
    EXPECT_EQ(raw[AMapOffset(128) + 2], 0xFF);
    EXPECT_EQ(Get64(&raw[192]), AMapOffset(AMapIndexOf(raw.size() - 1)));  // ibAMapLast
}

}  // namespace
}  // namespace pst::ndb
