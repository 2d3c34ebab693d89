#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "pst/ndb/bytes.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::ScratchDir;

// Leaf i of stream s: its numbers first, then a byte that depends on both.
std::vector<uint8_t> LeafContent(uint32_t stream, uint64_t i, size_t size) {
    std::vector<uint8_t> out(size, static_cast<uint8_t>(i * 31 + stream));
    if (size >= 12) {
        Put32(out.data(), stream);
        Put64(out.data() + 4, i);
    }
    return out;
}

// Three streams of 1.45 GB each: the file passes 4 GiB and the interval that holds the first
// FPMap (0x7C004400).
TEST(LargeFile, StreamsPastFourGiBReadBack) {
    ScratchDir dir;
    const auto path = dir / "large.pst";
    constexpr uint64_t kStreamBytes = 1'450'000'000;
    const uint64_t leavesPerStream = (kStreamBytes + kMaxBlockData - 1) / kMaxBlockData;
    {
        auto f = PstFile::Create(path);
        for (uint32_t s = 0; s < 3; ++s) {
            std::vector<Bid> leaves;
            leaves.reserve(leavesPerStream);
            for (uint64_t i = 0; i < leavesPerStream; ++i) {
                const size_t size = i + 1 < leavesPerStream
                                        ? kMaxBlockData
                                        : kStreamBytes - (leavesPerStream - 1) * kMaxBlockData;
                leaves.push_back(f->WriteBlock(LeafContent(s, i, size)));
            }
            f->PutNode({MakeNid(kNidTypeLtp, s + 1), f->WriteDataTree(leaves), 0, 0});
            f->Commit();
        }
    }
    const uint64_t size = std::filesystem::file_size(path);
    EXPECT_GT(size, 3 * kStreamBytes);
    EXPECT_GT(size, uint64_t{1} << 32);

    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_EQ(f->FileSize(), size);
    bool sawBlockPast4GiB = false;
    for (uint32_t s = 0; s < 3; ++s) {
        const auto node = f->FindNode(MakeNid(kNidTypeLtp, s + 1));
        ASSERT_TRUE(node);
        EXPECT_EQ(f->StreamSize(node->data), kStreamBytes);
        const auto leaves = f->DataBlocks(node->data);
        ASSERT_EQ(leaves.size(), leavesPerStream);
        for (uint64_t i : {uint64_t{0}, uint64_t{1020}, uint64_t{1021}, leavesPerStream / 2,
                           leavesPerStream - 2, leavesPerStream - 1}) {
            const auto bytes = f->ReadBlock(leaves[i]);
            ASSERT_GE(bytes.size(), 12u);
            EXPECT_EQ(bytes, LeafContent(s, i, bytes.size())) << "stream " << s << " leaf " << i;
            sawBlockPast4GiB |= f->FindBlock(leaves[i])->ib > (uint64_t{1} << 32);
        }
    }
    EXPECT_TRUE(sawBlockPast4GiB);
    f.reset();
    const auto started = std::chrono::steady_clock::now();
    const VerifyReport report = VerifyFileReport(path);
    EXPECT_TRUE(report.errors.empty()) << report.errors.front();
    std::printf("verified %llu blocks of a %.2f GB file in %.1f s\n",
                static_cast<unsigned long long>(report.blocks), static_cast<double>(size) / 1e9,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// Throughput of the pattern the messaging layer produces: one small block and one node per
// step, a commit every 1000. The later steps must not be much slower than the early ones.
TEST(LargeFile, HundredThousandNodesThroughput) {
    ScratchDir dir;
    const auto path = dir / "many.pst";
    auto f = PstFile::Create(path);
    const std::vector<uint8_t> block(2048, 0x5A);
    using Clock = std::chrono::steady_clock;
    std::vector<double> perThousand;
    const auto started = Clock::now();
    auto lap = started;
    for (int i = 1; i <= 100000; ++i) {
        const Bid data = f->WriteBlock(block);
        f->PutNode(
            {f->AllocateNid(kNidTypeNormalMessage), data, 0, MakeNid(kNidTypeNormalFolder, 1)});
        if (i % 1000 == 0) {
            f->Commit();
            const auto now = Clock::now();
            perThousand.push_back(std::chrono::duration<double>(now - lap).count());
            lap = now;
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - started).count();
    double first = 0;
    double last = 0;
    for (size_t i = 0; i < 10; ++i) {
        first += perThousand[i];
        last += perThousand[perThousand.size() - 1 - i];
    }
    std::printf(
        "100000 nodes of 2 KB with a commit every 1000: %.0f nodes/s "
        "(first 10000: %.0f/s, last 10000: %.0f/s)\n",
        100000 / total, 10000 / first, 10000 / last);
    EXPECT_LT(last, first * 3);
    f.reset();
    EXPECT_TRUE(VerifyFile(path).empty());
}

}  // namespace
}  // namespace pst::ndb
