// Folders the conversion may not list (no read permission, POSIX only).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/conversion/conversion_fixture.h"

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace conversiontest {
namespace {

// Takes away, while it lives, the power of root to read any folder, so that a folder without
// read permission is refused to this thread as it is to everyone else.
class NoReadOverride {
  public:
    NoReadOverride() {
#ifdef __linux__
        if (geteuid() != 0) return;
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved_, sizeof reduced);
        for (unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
#endif
    }
    ~NoReadOverride() {
#ifdef __linux__
        if (active_) syscall(SYS_capset, &header_, saved_);
#endif
    }
    NoReadOverride(const NoReadOverride&) = delete;
    NoReadOverride& operator=(const NoReadOverride&) = delete;

  private:
#ifdef __linux__
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
#endif
};

TEST_F(ConversionTest, FoldersThatCannotBeListedAreNamedWithTheirCause) {
    src.file("box/a.eml", Message("a"));
    src.file("box/Locked/b.eml", Message("b"));
    const std::string locked = fs::Utf8FromPath(src / "box/Locked");
    const std::string box = fs::Utf8FromPath(src / "box");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    {
        NoReadOverride dac;
        job.source = box;
        shell.AnswerSave(Pst("part.pst"));
        Window().CmdStartConversion_Click();
        // A source folder that cannot be listed at all is no "nothing to convert".
        job.source = locked;
        shell.AnswerSave(Pst("none.pst"));
        window->CmdStartConversion_Click();
    }
    chmod(locked.c_str(), 0755);
    const std::string cause = std::strerror(EACCES);
    ASSERT_EQ(shell.boxes().size(), 2u);
    const std::string& part = shell.boxes()[0].text;
    EXPECT_EQ(part.rfind("Some folders could not be read.", 0), 0u) << part;
    EXPECT_NE(part.find("Could not be read: " + locked + " (" + cause + ")"), std::string::npos)
        << part;
    EXPECT_EQ(ReadTree(Pst("part.pst"))[""], std::vector<std::string>{"a"});

    const std::string& none = shell.boxes()[1].text;
    EXPECT_EQ(none.rfind("Nothing was converted.", 0), 0u) << none;
    EXPECT_NE(none.find("Could not be read: " + locked + " (" + cause + ")"), std::string::npos)
        << none;
    EXPECT_EQ(window->report.Outcome(), engine::RunOutcome::ConvertedWithFailures);
}

}  // namespace
}  // namespace conversiontest
