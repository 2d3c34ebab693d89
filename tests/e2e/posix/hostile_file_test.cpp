// A data file whose header claims 1 TB (a small file with a sparse tail): verify and convert
// refuse it at once and in little memory, and convert leaves it as it was (POSIX only: the
// children's peak memory comes from getrusage).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "pst/ndb/bytes.h"
#include "pst/ndb/header.h"
#include "tests/e2e/cli_fixture.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, AHeaderClaimingATerabyteIsRefusedAtOnce) {
    src.file("box/a.eml", Message("a"));
    const auto path = out / "claims.pst";
    const std::string pst = fs::Utf8FromPath(path);
    ASSERT_EQ(
        RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " + Quote(pst)).status, 0);
    const uint64_t intervals =
        ((uint64_t{1} << 40) - pst::ndb::kFirstAMapOffset) / pst::ndb::kAMapInterval;
    const uint64_t claimed = pst::ndb::FileEofFor(intervals);
    std::array<uint8_t, pst::ndb::kHeaderSize> header{};
    {
        std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
        io.read(reinterpret_cast<char*>(header.data()), std::streamsize(header.size()));
        pst::ndb::Put64(&header[184], claimed);
        pst::ndb::Put64(&header[192], pst::ndb::AMapOffset(intervals - 1));
        pst::ndb::Put32(&header[4], pst::ndb::HeaderPartialCrc(header.data()));
        pst::ndb::Put32(&header[524], pst::ndb::HeaderFullCrc(header.data()));
        io.seekp(0);
        io.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    }
    std::filesystem::resize_file(path, claimed);

    const auto start = std::chrono::steady_clock::now();
    Result v = RunCommand(cli + " verify " + Quote(pst));
    EXPECT_EQ(v.status, 1) << v.out;
    EXPECT_NE(v.out.find("map pages are missing"), std::string::npos) << v.out;
    src.file("box/b.eml", Message("b"));
    Result c = RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " + Quote(pst));
    EXPECT_EQ(c.status, 3) << c.out;
    EXPECT_NE(c.out.find("map pages are missing"), std::string::npos) << c.out;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(seconds, 10.0);
#ifdef __SANITIZE_ADDRESS__
    const long limitKiB = 256 * 1024;  // the sanitizer's own shadow memory comes on top
#else
    const long limitKiB = 64 * 1024;
#endif
    EXPECT_LT(usage.ru_maxrss, limitKiB) << "KiB";  // the largest program run by this test

    EXPECT_EQ(std::filesystem::file_size(path), claimed);
    std::array<uint8_t, pst::ndb::kHeaderSize> after{};
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(after.data()), std::streamsize(after.size()));
    EXPECT_TRUE(after == header);
}

}  // namespace
}  // namespace e2e
