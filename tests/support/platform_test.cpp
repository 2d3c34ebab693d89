// The test helpers of platform.h, on whichever platform this is built for: the Wine run relies
// on the Windows ones as much as the Linux run on the POSIX ones.
#include "tests/support/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testsupport {
namespace {

TEST(TestPlatform, EnvironmentChangesReachGetenv) {
    SetEnv("EML2PST_TEST_VARIABLE", "a b=c \u00E9");
    ASSERT_NE(std::getenv("EML2PST_TEST_VARIABLE"), nullptr);
    EXPECT_STREQ(std::getenv("EML2PST_TEST_VARIABLE"), "a b=c \u00E9");
    UnsetEnv("EML2PST_TEST_VARIABLE");
    EXPECT_EQ(std::getenv("EML2PST_TEST_VARIABLE"), nullptr);
}

TEST(TestPlatform, ShellCommandsTakeQuotedUtf8ArgumentsAndGiveStatusAndOutput) {
    TempDir dir;
    const std::string folder = fs::Utf8FromPath(dir.dir("Gr\u00FC\u00DFe \u65E5 x&y"));
    // cd fails unless the folder arrives whole; the status then is not 7.
    EXPECT_EQ(RunShellCommand("cd " + ShellQuote(folder) + " && exit 7").status, 7);
    const CommandResult echo = RunShellCommand("echo hello");
    EXPECT_EQ(echo.status, 0);
    EXPECT_EQ(echo.output.rfind("hello", 0), 0u) << echo.output;
}

TEST(TestPlatform, MemoryFiguresFollowAllocations) {
    const long before = PeakResidentKb();
    {
        constexpr size_t kBytes = 64u << 20;
        std::unique_ptr<char[]> block(new char[kBytes]);
        for (size_t i = 0; i < kBytes; i += 4096) block[i] = char(i);
        EXPECT_GE(PeakResidentKb() - before, 32 * 1024) << "KiB";
    }
    void* small = std::malloc(100);
    EXPECT_GE(MallocBlockSize(small), 100u);
    std::free(small);
}

TEST(TestPlatform, ModificationTimesAndTheMissingFileText) {
    TempDir dir;
    const auto file = dir.file("dated");
    SetModificationTime(file, 1500000000);
    const auto back = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(file));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(back.time_since_epoch()).count(),
              1500000000);
    const std::string text = NoSuchFileText();
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
}

}  // namespace
}  // namespace testsupport
