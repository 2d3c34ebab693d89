#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "pst/ndb/file_handle.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"
#include "tests/support/platform.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ReadAll;
using testing::ScratchDir;

constexpr size_t kBuffer = FileHandle::kWriteBufferBytes;

// The file as the handle's writes so far should leave it, kept next to the real one.
struct Mirror {
    std::vector<uint8_t> bytes;
    void write(uint64_t at, std::span<const uint8_t> data) {
        if (bytes.size() < at + data.size()) bytes.resize(at + data.size(), 0);
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
    }
};

// These cases are about the gathering buffer, which handles writes where the file system does
// not take direct I/O (the write window has its own tests); PST-level cases below run with
// whichever the scratch folder gets.
struct GatheringBuffer {
    GatheringBuffer() { testsupport::SetEnv("EML2PST_BUFFERED_WRITES", "1"); }
    ~GatheringBuffer() { testsupport::UnsetEnv("EML2PST_BUFFERED_WRITES"); }
};

std::vector<uint8_t> ReadBack(const FileHandle& f, uint64_t at, size_t n) {
    std::vector<uint8_t> out(n);
    f.ReadAt(at, out);
    return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, uint64_t at, size_t n) {
    return {v.begin() + static_cast<ptrdiff_t>(at), v.begin() + static_cast<ptrdiff_t>(at + n)};
}

TEST(WriteCombining, GathersAdjacentWritesAndReadsThemBack) {
    GatheringBuffer gathering;
    ScratchDir dir;
    const auto path = dir / "gather.bin";
    Mirror m;
    FileHandle f(path, FileHandle::Access::Create);
    // Written straight to the file, then partly overwritten by gathered bytes.
    const auto base = Pattern(3 * 4096, 1);
    f.WriteAt(0, base);
    f.Sync();
    m.write(0, base);
    const uint64_t callsBefore = f.WriteCalls();
    uint64_t at = 4096;
    for (uint32_t i = 0; i < 200; ++i) {
        const auto block = Pattern(64 + (i % 7) * 64, 100 + i);
        f.WriteAt(at, block);
        m.write(at, block);
        at += block.size();
    }
    EXPECT_EQ(f.WriteCalls(), callsBefore) << "adjacent writes went to the file one by one";
    EXPECT_EQ(f.size(), m.bytes.size());
    // Ranges inside the gathered bytes, across their start (file + buffer), across their end
    // (buffer + file) and covering them whole.
    for (auto [from, n] : std::vector<std::pair<uint64_t, size_t>>{
             {5000, 300}, {4000, 200}, {2000, 8000}, {0, m.bytes.size()}}) {
        EXPECT_EQ(ReadBack(f, from, n), Slice(m.bytes, from, n)) << from << "+" << n;
    }
    // A rewrite inside the gathered range and one running past its end.
    const auto patch = Pattern(500, 7);
    f.WriteAt(6000, patch);
    m.write(6000, patch);
    const auto tail = Pattern(900, 8);
    f.WriteAt(at - 300, tail);
    m.write(at - 300, tail);
    EXPECT_EQ(ReadBack(f, 0, m.bytes.size()), m.bytes);
    EXPECT_EQ(f.WriteCalls(), callsBefore);
    // Another reader sees the bytes once synced.
    f.Sync();
    EXPECT_EQ(f.WriteCalls(), callsBefore + 1);
    EXPECT_EQ(ReadAll(path), m.bytes);
}

TEST(WriteCombining, BufferLimitOverlapsAndTruncation) {
    GatheringBuffer gathering;
    ScratchDir dir;
    const auto path = dir / "limit.bin";
    Mirror m;
    {
        FileHandle f(path, FileHandle::Access::Create);
        // Fill the buffer to just short of its limit, then a write that straddles the limit.
        const auto fill = Pattern(kBuffer - 100, 2);
        f.WriteAt(1000, fill);  // over half the buffer: written at once
        m.write(1000, fill);
        uint64_t end = 10'000'000;
        for (uint32_t i = 0; end - 10'000'000 + 100'000 <= kBuffer; ++i) {
            const auto chunk = Pattern(100'000, 20 + i);
            f.WriteAt(end, chunk);
            m.write(end, chunk);
            end += chunk.size();
        }
        const uint64_t calls = f.WriteCalls();
        const auto straddle = Pattern(150'000, 5);
        ASSERT_GT(end - 10'000'000 + straddle.size(), kBuffer);
        f.WriteAt(end, straddle);
        m.write(end, straddle);
        EXPECT_EQ(f.WriteCalls(), calls + 1);  // the full buffer went out, the rest waits
        end += straddle.size();
        EXPECT_EQ(ReadBack(f, 10'000'000 - 10, end - 10'000'000 + 10),
                  Slice(m.bytes, 10'000'000 - 10, end - 10'000'000 + 10));
        // A write running past the gathered bytes' end, then one starting before their start
        // and overlapping them: the later bytes win.
        const auto past = Pattern(3000, 6);
        f.WriteAt(end - 1000, past);
        m.write(end - 1000, past);
        const uint64_t gatheredFrom = end - straddle.size();
        const auto over = Pattern(2000, 9);
        f.WriteAt(gatheredFrom - 500, over);
        m.write(gatheredFrom - 500, over);
        EXPECT_EQ(f.size(), m.bytes.size());
        EXPECT_EQ(ReadBack(f, gatheredFrom - 3000, 6000),
                  Slice(m.bytes, gatheredFrom - 3000, 6000));
        EXPECT_EQ(ReadBack(f, end - 3000, 5000), Slice(m.bytes, end - 3000, 5000));
        // Truncating below the gathered bytes' end drops what lies past it.
        const auto late = Pattern(640, 10);
        f.WriteAt(end + 10'000, late);
        m.write(end + 10'000, late);
        f.Truncate(end + 10'200);
        m.bytes.resize(end + 10'200);
        EXPECT_EQ(f.size(), m.bytes.size());
        // Closing writes out what is still gathered.
        const auto last = Pattern(128, 11);
        f.WriteAt(2000, last);
        m.write(2000, last);
    }
    EXPECT_EQ(ReadAll(path), m.bytes);
}

// Random writes (adjacent runs, rewrites, jumps back), reads and syncs against the mirror.
TEST(WriteCombining, RandomWorkloadMatchesAPlainFile) {
    GatheringBuffer gathering;
    ScratchDir dir;
    const auto path = dir / "random.bin";
    Mirror m;
    std::mt19937 rng(20261207);
    {
        FileHandle f(path, FileHandle::Access::Create);
        uint64_t next = 0;
        for (int step = 0; step < 3000; ++step) {
            const uint32_t kind = rng() % 100;
            if (kind < 70) {
                const auto bytes = Pattern(1 + rng() % 9000, static_cast<uint32_t>(step));
                uint64_t at = next;
                if (kind >= 60 && !m.bytes.empty()) at = rng() % m.bytes.size();
                if (kind == 69) at = next + rng() % 5000;  // leaves a hole
                f.WriteAt(at, bytes);
                m.write(at, bytes);
                next = std::max(next, at + bytes.size());
            } else if (kind < 95 && !m.bytes.empty()) {
                const uint64_t at = rng() % m.bytes.size();
                const size_t n = 1 + rng() % std::min<uint64_t>(20000, m.bytes.size() - at);
                ASSERT_EQ(ReadBack(f, at, n), Slice(m.bytes, at, n)) << "step " << step;
            } else if (kind < 98) {
                f.Sync();
                ASSERT_EQ(ReadAll(path), m.bytes) << "step " << step;
            } else {
                ASSERT_EQ(f.size(), m.bytes.size()) << "step " << step;
            }
        }
        EXPECT_LT(f.WriteCalls(), 1500u);
    }
    EXPECT_EQ(ReadAll(path), m.bytes);
}

// A PST writer reads its own blocks back before committing them, some still gathered.
TEST(WriteCombining, UncommittedBlocksReadBackAndCommitWhole) {
    ScratchDir dir;
    const auto path = dir / "blocks.pst";
    std::map<Nid, std::vector<uint8_t>> expected;
    {
        auto f = PstFile::Create(path);
        for (uint32_t i = 0; i < 600; ++i) {  // ~5 MiB: the buffer fills and goes out twice
            const auto data = Pattern(1000 + (i * 37) % 8000, i);
            const Bid bid = f->WriteStream(data);
            EXPECT_EQ(f->ReadStream(bid), data) << i;
            const Nid nid = MakeNid(kNidTypeNormalMessage, 100 + i);
            f->PutNode({nid, bid, 0, 0});
            expected[nid] = data;
            if (i % 97 == 0) {  // a node replaced: its old block is freed and reused
                const auto again = Pattern(500, 5000 + i);
                f->PutNode({nid, f->WriteStream(again), 0, 0});
                expected[nid] = again;
            }
        }
        for (const auto& [nid, data] : expected) {
            EXPECT_EQ(f->ReadStream(f->FindNode(nid)->data), data);
        }
        f->Commit();
    }
    EXPECT_TRUE(VerifyFile(path).empty());
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    size_t seen = 0;
    f->ForEachNode([&](const NodeEntry& n) {
        ++seen;
        EXPECT_EQ(f->ReadStream(n.data), expected.at(n.nid));
    });
    EXPECT_EQ(seen, expected.size());
}

}  // namespace
}  // namespace pst::ndb
