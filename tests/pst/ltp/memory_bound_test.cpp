// A 20 MB streamed value must pass through the PC without being held in memory whole. The
// global allocation functions of this test executable count live heap bytes to check that.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "pst/ltp/property_context.h"
#include "pst/ndb/pst_file.h"
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

}  // namespace
}  // namespace pst::ltp
