// Sources and targets a POSIX file system allows and a careless converter trips over: folders
// it may not read, links, a full disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/e2e/cli_fixture.h"
#include "tests/support/json_string.h"

namespace e2e {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The messages the data file holds at the top of its tree, as `list` counts them.
int StoredAtTop(const std::string& cli, const std::string& pst) {
    Result l = RunCommand(cli + " list " + Quote(pst));
    const std::string top = "Top of Outlook data file  (";
    size_t at = l.out.find(top);
    return at == std::string::npos ? -1 : std::atoi(l.out.c_str() + at + top.size());
}

// Root may read any folder: run the command line without that power.
std::string WithoutReadOverride(const std::string& command) {
    return geteuid() == 0 ? "setpriv --bounding-set=-dac_override,-dac_read_search " + command
                          : command;
}

TEST_F(EndToEnd, FoldersThatCannotBeReadAreReportedAndFailTheRun) {
    src.file("root/box/a.eml", Message("a"));
    src.file("root/box/Locked/b.eml", Message("b"));
    const std::string locked = Source("root/box/Locked");
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    const std::string cause = std::strerror(EACCES);
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    Result r = RunCommand(WithoutReadOverride(cli + " convert --json " + Quote(json) + " " +
                                              Quote(Source("root/box")) + " " +
                                              Quote(fs::Utf8FromPath(out / "box.pst"))));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("1 folder could not be read"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  " + locked + ": " + cause), std::string::npos) << r.out;
    const std::string summary = ReadAll(out / "summary.json");
    EXPECT_NE(summary.find("\"unreadFolders\": [{\"folder\": " + testsupport::JsonString(locked) +
                           ", \"reason\": " + testsupport::JsonString(cause) + "}]"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("\"foldersNotRead\": 1"), std::string::npos) << summary;

    // The source itself, and a root of mailboxes, that cannot be read: no success, no silence.
    r = RunCommand(WithoutReadOverride(cli + " convert " + Quote(locked) + " " +
                                       Quote(fs::Utf8FromPath(out / "locked.pst"))));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("  " + locked + ": " + cause), std::string::npos) << r.out;
    r = RunCommand(WithoutReadOverride(cli + " convert --mailboxes " + Quote(locked) + " " +
                                       Quote(out.str())));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("  " + locked + ": " + cause), std::string::npos) << r.out;
    chmod(locked.c_str(), 0755);
}

// A mailbox that is a link out of the root is followed and said to be one; a data file name
// that is a link to something other than a data file is not written through.
TEST_F(EndToEnd, LinksAreFollowedOnlyWhereTheyLeadToMail) {
    src.file("elsewhere/a.eml", Message("a"));
    src.dir("root");
    std::filesystem::create_directory_symlink(src / "elsewhere", src / "root/linked");
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    Result r = RunCommand(cli + " convert --mailboxes --json " + Quote(json) + " " +
                          Quote(Source("root")) + " " + Quote(out.str()));
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string target = fs::Utf8FromPath(std::filesystem::canonical(src / "elsewhere"));
    EXPECT_NE(r.out.find(Source("root/linked") + " linked from " + target), std::string::npos)
        << r.out;
    EXPECT_NE(
        ReadAll(out / "summary.json").find("\"linkedFrom\": " + testsupport::JsonString(target)),
        std::string::npos);
    EXPECT_EQ(StoredAtTop(cli, fs::Utf8FromPath(out / "linked.pst")), 1);

    src.file("keep.txt", "");
    std::filesystem::create_symlink(src / "keep.txt", out / "empty.pst");
    std::filesystem::create_symlink(src / "missing.txt", out / "dangling.pst");
    for (const char* name : {"empty.pst", "dangling.pst"}) {
        r = RunCommand(cli + " convert --quiet " + Quote(Source("elsewhere")) + " " +
                       Quote(fs::Utf8FromPath(out / name)));
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_NE(r.out.find("is a link to a file that is not a data file"), std::string::npos)
            << r.out;
    }
    EXPECT_EQ(std::filesystem::file_size(src / "keep.txt"), 0u);
    EXPECT_FALSE(std::filesystem::exists(src / "missing.txt"));
}

// A disk that fills up (here: a file size limit, which fails writes the same way): what the
// file holds is what the summary counts as converted; the rest failed with the cause.
TEST_F(EndToEnd, AfterAFullDiskOnlyCommittedMessagesCountAsConverted) {
    const int total = 2600;
    for (int i = 0; i < total; ++i)
        src.file("box/m" + std::to_string(i) + ".eml", Message("m" + std::to_string(i)));
    const std::string pst = fs::Utf8FromPath(out / "full.pst");
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    // Blocks of 512 bytes: room for the first commit, not for all messages.
    Result r = RunCommand("trap '' XFSZ; ulimit -f 9000; " + cli + " convert --quiet --json " +
                          Quote(json) + " " + Quote(Source("box")) + " " + Quote(pst));
    EXPECT_EQ(r.status, 1) << r.out;
    const int stored = StoredAtTop(cli, pst);
    ASSERT_GT(stored, 0) << r.out;
    ASSERT_LT(stored, total) << r.out;
    const std::string summary = ReadAll(out / "summary.json");
    EXPECT_NE(summary.find("\"converted\": " + std::to_string(stored) + ","), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("not written to the data file: "), std::string::npos);
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(pst)).status, 0);
}

}  // namespace
}  // namespace e2e
