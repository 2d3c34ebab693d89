// A backslash is an ordinary character in a POSIX file name, and the separator on Windows.
#include "tests/conversion/conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

TEST_F(FolderMappingTest, AFolderNameHoldingABackslashStaysOneFolder) {
    src.file("a\\b/m.eml", Message("slash"));
    Tree tree = Convert(src.str());
    EXPECT_EQ(tree["a\\b"], Subjects{"slash"});
    EXPECT_FALSE(tree.count("a"));
}

// The source folder's own name, and a mailbox's, become the store's display name: a "\" or a
// drive-like "C:\" in them must not cut the store's folder paths.
TEST_F(FolderMappingTest, SourceAndMailboxNamesHoldingBackslashesConvertLikeOthers) {
    src.file("bs\\dir/top.eml", Message("top"));
    src.file("bs\\dir/Sub/s.eml", Message("sub"));
    Tree tree = Convert(fs::Utf8FromPath(src / "bs\\dir"));
    EXPECT_EQ(tree[""], Subjects{"top"});
    EXPECT_EQ(tree["Sub"], Subjects{"sub"});
    EXPECT_EQ(window->report.Failed(), 0);

    src.file("root/..\\..\\x/a.eml", Message("dots"));
    src.file("root/C:\\x/Inbox/b.eml", Message("drive"));
    job.single = false;
    job.output = out.str();
    job.rows = {{true, "..\\..\\x", fs::Utf8FromPath(src / "root/..\\..\\x")},
                {true, "C:\\x", fs::Utf8FromPath(src / "root/C:\\x")}};
    window->CmdStartConversion_Click();
    EXPECT_EQ(window->report.Converted(), 2);
    EXPECT_EQ(window->report.Failed(), 0);
    // Each data file lands in the output folder under the mailbox's own name.
    EXPECT_EQ(ReadTree(Pst("..\\..\\x.pst"))[""], Subjects{"dots"});
    EXPECT_EQ(ReadTree(Pst("C:\\x.pst"))["Inbox"], Subjects{"drive"});
}

}  // namespace
}  // namespace conversiontest
