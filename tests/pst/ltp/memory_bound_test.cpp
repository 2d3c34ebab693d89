// A 20 MB streamed value must pass through the PC without being held in memory whole. The
// global allocation functions of this test executable count live heap bytes to check that.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <new>

#include "pst/ltp/property_context.h"
#include "pst/ndb/bytes.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/header.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ltp/test_values.h"
#include "tests/support/platform.h"

namespace {

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void* CountedAlloc(size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    int64_t live = gLive += int64_t(testsupport::MallocBlockSize(p));
    int64_t peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void CountedFree(void* p) {
    if (p == nullptr) return;
    gLive -= int64_t(testsupport::MallocBlockSize(p));
    std::free(p);
}

// Peak growth of live heap bytes while `f` runs.
template <typename F>
int64_t PeakGrowth(F&& f) {
    const int64_t base = gLive.load();
    gPeak = base;
    f();
    return gPeak.load() - base;
}

}  // namespace

void* operator new(size_t n) {
    return CountedAlloc(n);
}
void* operator new[](size_t n) {
    return CountedAlloc(n);
}
void operator delete(void* p) noexcept {
    CountedFree(p);
}
void operator delete[](void* p) noexcept {
    CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
    CountedFree(p);
}

namespace pst::ltp {
namespace {

TEST(LtpMemoryBound, StreamedValueNeverSitsInMemoryWhole) {
    testing::ScratchDir dir;
    auto db = ndb::PstFile::Create(dir / "stream.pst");
    const uint64_t size = 20u * 1024 * 1024;
    ndb::SubnodeMap subnodes;
    PropertyContext pc(*db, subnodes);
    const int64_t writing = PeakGrowth([&] {
        pc.Set(PropertyValue::Stream(0x37010102, size, testing::Generator(size, 64 * 1024)));
        db->PutNode(ndb::NodeEntry{db->AllocateNid(ndb::kNidTypeNormalMessage), pc.Write(),
                                   db->WriteSubnodes(subnodes), 0});
        db->Commit();
    });
    uint64_t total = 0;
    const int64_t reading = PeakGrowth(
        [&] { pc.ReadChunks(0x3701, [&](std::span<const uint8_t> c) { total += c.size(); }); });
    EXPECT_EQ(total, size);
    // The leaf BID list (8 bytes per 8 KB block) and a few blocks may be held; never the value.
    EXPECT_LT(writing, 4 << 20) << "bytes";
    EXPECT_LT(reading, 4 << 20) << "bytes";
    std::cout << "peak growth: writing " << writing << ", reading " << reading << " bytes\n";
}

// A small file whose header claims 1 TB (the rest a sparse hole): nothing may be sized from
// the claim. The verifier reports it and opening for writing refuses it, each at once.
TEST(LtpMemoryBound, HeaderClaimingATerabyteCostsNeitherMemoryNorTime) {
    testing::ScratchDir dir;
    const auto path = dir / "claims.pst";
    {
        auto db = ndb::PstFile::Create(path);
        db->PutNode({ndb::MakeNid(ndb::kNidTypeNormalMessage, 1), db->WriteBlock({}), 0, 0});
        db->Commit();
    }
    // 1 TB; where no file that large can be made (Wine reserves the space), 4 GB: what the maps
    // of that would take is still 16 times the bound below.
    uint64_t claimed = 0;
    for (int bits : {40, 32}) {
        const uint64_t intervals =
            ((uint64_t{1} << bits) - ndb::kFirstAMapOffset) / ndb::kAMapInterval;
        claimed = ndb::FileEofFor(intervals);
        std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
        std::array<uint8_t, ndb::kHeaderSize> raw{};
        io.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()));
        ndb::Put64(&raw[184], claimed);
        ndb::Put64(&raw[192], ndb::AMapOffset(intervals - 1));
        ndb::Put32(&raw[4], ndb::HeaderPartialCrc(raw.data()));
        ndb::Put32(&raw[524], ndb::HeaderFullCrc(raw.data()));
        io.seekp(0);
        io.write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size()));
        io.close();
        std::error_code ec;
        std::filesystem::resize_file(path, claimed, ec);
        if (!ec) break;
    }
    ASSERT_EQ(std::filesystem::file_size(path), claimed);

    const auto start = std::chrono::steady_clock::now();
    ndb::VerifyReport report;
    const int64_t verifying = PeakGrowth([&] { report = ndb::VerifyFileReport(path); });
    ASSERT_FALSE(report.errors.empty());
    EXPECT_NE(report.errors.front().find("map pages are missing"), std::string::npos)
        << report.errors.front();
    std::string refusal;
    const int64_t opening = PeakGrowth([&] {
        try {
            ndb::PstFile::Open(path, ndb::PstFile::Mode::ReadWrite);
        } catch (const ndb::NdbError& e) {
            refusal = e.what();
        }
    });
    EXPECT_NE(refusal.find("allocation maps are missing"), std::string::npos) << refusal;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(verifying, 1 << 20) << "bytes";
    EXPECT_LT(opening, 1 << 20) << "bytes";
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(std::filesystem::file_size(path), claimed);
    std::cout << claimed << " bytes claimed: verify " << verifying << " bytes, open " << opening
              << " bytes, " << seconds << " s\n";
}

}  // namespace
}  // namespace pst::ltp
