// The command line on generated mailboxes, checked with PST readers nobody here wrote. Ctrl-C
// is in posix/ctrl_c_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/e2e/cli_fixture.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, ASingleFolderBecomesOneDataFileThatEveryReaderAgreesOn) {
    MakeMailbox("box");
    const std::string pst = fs::Utf8FromPath(out / "box.pst");
    Result r = RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " + Quote(pst));
    ASSERT_EQ(r.status, 0) << r.out;
    Result v = RunCommand(cli + " verify " + Quote(pst));
    EXPECT_EQ(v.status, 0) << v.out;
    Result l = RunCommand(cli + " list " + Quote(pst));
    EXPECT_NE(l.out.find("Ünïcødé  (1)"), std::string::npos) << l.out;
    CheckWithReaders(pst);
}

TEST_F(EndToEnd, MailboxesModeWritesOneFilePerSubfolderAndReportsInJson) {
    MakeMailbox("root/alice");
    MakeMailbox("root/bob");
    src.file("root/bob/broken.eml", "");
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    Result r = RunCommand(cli + " convert --mailboxes --quiet --json " + Quote(json) + " " +
                          Quote(Source("root")) + " " + Quote(out.str()));
    EXPECT_EQ(r.status, 1) << r.out;  // one file could not be converted
    EXPECT_TRUE(std::filesystem::exists(out.path() / "alice.pst"));
    EXPECT_TRUE(std::filesystem::exists(out.path() / "bob.pst"));
    std::ifstream in(out / "summary.json");
    std::string summary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(summary.find("\"converted\": 12"), std::string::npos) << summary;
    EXPECT_NE(summary.find("broken.eml"), std::string::npos) << summary;
    CheckWithReaders(fs::Utf8FromPath(out / "alice.pst"));
}

TEST_F(EndToEnd, UsageErrorsAndUnopenableFilesHaveTheirOwnExitStatus) {
    EXPECT_EQ(RunCommand(cli + " convert").status, 2);
    EXPECT_EQ(RunCommand(cli + " frobnicate x").status, 2);
    EXPECT_EQ(RunCommand(cli + " --version").status, 0);
    src.file("not.pst", "this is not a data file");
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(Source("not.pst"))).status, 3);
    src.file("box/a.eml", Message("a"));
    Result r = RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " +
                          Quote(Source("not.pst")));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Cause: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace e2e
