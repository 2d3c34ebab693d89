// Writes gathered in a window and written past the page cache must leave the file exactly as
// plain positioned writes would, whatever the order of writes, reads, flushes and growth.
#include "pst/ndb/write_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fs/file.h"
#include "fs/utf8_path.h"
#include "pst/ndb/file_handle.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ReadAll;
using testing::ScratchDir;

// A file and what it must hold, written side by side.
struct Shadowed {
    FileHandle file;
    std::vector<uint8_t> expected;

    void write(uint64_t offset, const std::vector<uint8_t>& bytes) {
        file.WriteAt(offset, bytes);
        if (expected.size() < offset + bytes.size()) expected.resize(offset + bytes.size());
        std::copy(bytes.begin(), bytes.end(), expected.begin() + std::ptrdiff_t(offset));
    }
    void checkRead(uint64_t offset, size_t size) {
        std::vector<uint8_t> got(size);
        file.ReadAt(offset, got);
        ASSERT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + std::ptrdiff_t(offset)))
            << "read of " << size << " at " << offset;
    }
};

TEST(WriteWindow, MixedWritesReadsAndFlushesLeaveTheFileAsPlainWritesWould) {
    ScratchDir dir;
    const auto path = dir / "mixed.bin";
    // Old content around every write must survive, so start from a file full of it.
    testing::WriteAll(path, Pattern(3 << 20, 99));
    {
        auto probe = fs::File::Open(fs::Utf8FromPath(path), fs::File::Mode::ReadWrite);
        const bool direct = WriteWindow::Open(fs::Utf8FromPath(path), probe) != nullptr;
        RecordProperty("direct_io", direct ? "yes" : "no (page cache only)");
    }
    Shadowed s{FileHandle(path, FileHandle::Access::ReadWrite), ReadAll(path)};
    std::mt19937 rng(5);
    uint64_t stream = 1000;  // where the next block of the sequential stream goes
    for (uint32_t op = 0; op < 3000; ++op) {
        const uint32_t pick = rng() % 100;
        if (pick < 60) {  // the stream: blocks one after another, now and then skipping ahead
            if (rng() % 40 == 0) stream += 512 + rng() % 300000;
            const size_t size = 64 + rng() % 9000;
            s.write(stream, Pattern(size, op));
            stream += size;
        } else if (pick < 75) {  // a rewrite somewhere already written (maps, reused holes)
            const size_t size = 1 + rng() % 6000;
            s.write(rng() % (s.expected.size() - size), Pattern(size, op));
        } else if (pick < 90) {  // reads: inside the window, across it, behind it
            const size_t size = 1 + rng() % 20000;
            const uint64_t near = stream > 30000 ? stream - 30000 : 0;
            const uint64_t at = rng() % 2 ? near + rng() % 30000 : rng() % s.expected.size();
            s.checkRead(std::min<uint64_t>(at, s.expected.size() - size), size);
        } else if (pick < 91) {
            s.file.Sync();
        } else if (pick < 96) {
            ASSERT_EQ(s.file.size(), s.expected.size());
        } else if (pick < 97) {  // one write over more than a whole window
            const size_t size = WriteWindow::kSpan + rng() % WriteWindow::kSpan;
            s.write(stream, Pattern(size, op));
            stream += size;
        }
        if (::testing::Test::HasFatalFailure()) return;
    }
    s.file = FileHandle();  // closing without a flush still writes everything
    EXPECT_TRUE(ReadAll(path) == s.expected);
}

TEST(WriteWindow, ShrinkingAndGrowingTheFileKeepsWritesInOrder) {
    ScratchDir dir;
    const auto path = dir / "resized.bin";
    Shadowed s{FileHandle(path, FileHandle::Access::Create), {}};
    s.write(0, Pattern(300000, 1));
    s.file.Truncate(100000);  // the pending writes land first, then the cut
    s.expected.resize(100000);
    s.file.Truncate(600000);  // growing adds zeros
    s.expected.resize(600000);
    s.write(500000, Pattern(5000, 2));
    s.checkRead(99000, 2000);
    s.file.Sync();
    EXPECT_EQ(s.file.size(), 600000u);
    s.file = FileHandle();
    EXPECT_TRUE(ReadAll(path) == s.expected);
}

}  // namespace
}  // namespace pst::ndb
