// Failures of the data file, provoked through a session: each description names the cause in
// the user's terms, then the technical text.

#include <gtest/gtest.h>

#include <fstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "pst/messaging/message_store.h"
#include "pst/ndb/errors.h"
#include "store/com_error.h"
#include "store/file_problem.h"
#include "store/pst_session.h"
#include "tests/support/temp_dir.h"

namespace store {
namespace {

// The description of a failed log-on to the data file at `path`; empty when it succeeds.
std::string LogonFailure(const std::filesystem::path& path) {
    auto session = PstSessionFactory().CreateSession();
    try {
        session->LogonPstStore(fs::Utf8FromPath(path), kPstFormatUnicode, "Test");
    } catch (const ComError& e) {
        return e.Description();
    }
    session->Logoff();
    return {};
}

bool StartsWith(const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
}

std::filesystem::path NewStore(const std::filesystem::path& path) {
    pst::messaging::MessageStore::Create(path, "Own")->Close();
    return path;
}

void Poke(const std::filesystem::path& path, std::streamoff at, char byte) {
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    io.seekp(at);
    io.put(byte);
}

TEST(DataFileFailures, NameTheCauseAtLogOn) {
    testsupport::TempDir dir;
    auto u = [](const std::filesystem::path& p) { return fs::Utf8FromPath(p); };

    EXPECT_TRUE(StartsWith(LogonFailure(dir / "gone/x.pst"),
                           "The folder " + u(dir / "gone") + " does not exist. ("));
    EXPECT_TRUE(
        StartsWith(LogonFailure(dir.path()), u(dir.path()) + " is a folder, not a data file."));

    const auto text = dir.file("notes.pst", "A shopping list someone named .pst\n");
    EXPECT_TRUE(StartsWith(LogonFailure(text), u(text) + " is not an Outlook data file. ("));

    const auto damaged = NewStore(dir / "damaged.pst");
    Poke(damaged, 48, '\x5A');  // inside the header's checksummed part
    const std::string why = LogonFailure(damaged);
    EXPECT_TRUE(StartsWith(why, "The data file " + u(damaged) + " is damaged: damaged header ("))
        << why;

    const auto ansi = NewStore(dir / "ansi.pst");
    Poke(ansi, 10, 14);  // the version of an ANSI file
    EXPECT_TRUE(StartsWith(LogonFailure(ansi), u(ansi) + " is an ANSI-format Outlook data file"));

    // Held by another session of this program; free again once it logs off.
    const auto held = NewStore(dir / "held.pst");
    auto holder = PstSessionFactory().CreateSession();
    holder->LogonPstStore(u(held), kPstFormatUnicode, "Holder");
    EXPECT_TRUE(StartsWith(LogonFailure(held),
                           "The data file " + u(held) + " is locked by another program"));
    holder->Logoff();
    EXPECT_EQ(LogonFailure(held), "");
}

#ifndef _WIN32
// A name longer than a folder entry may be, and a folder this user may not write into (root may
// write into any, so that part is left out for root).
TEST(DataFileFailures, NameTheFolderCauses) {
    testsupport::TempDir dir;
    const auto tooLong = dir / (std::string(300, 'n') + ".pst");
    EXPECT_TRUE(StartsWith(LogonFailure(tooLong),
                           "The path " + fs::Utf8FromPath(tooLong) + " is too long"));

    if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
    const auto locked = dir.dir("locked");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const std::string why = LogonFailure(locked / "x.pst");
    EXPECT_TRUE(StartsWith(why, "The data file cannot be created in the folder " +
                                    fs::Utf8FromPath(locked) +
                                    ": you have no permission to write there."))
        << why;
}
#endif

// Causes no test provokes on every machine, from the errors the file system and the PST
// engine report.
TEST(DataFileFailures, WordTheCauseOfEachError) {
    using Kind = fs::FileError::Kind;
    const std::string p = "/data/mail.pst";
    const pst::ndb::NdbError full(p + ": write failed: No space left on device",
                                  pst::ndb::NdbError::Cause::File, Kind::DiskFull);
    EXPECT_EQ(DescribeFailure(full, p, FileStep::kUsing),
              "The disk is full: there is no room left to write /data/mail.pst. "
              "(/data/mail.pst: write failed: No space left on device)");

    // A refused write concerns the folder while the file is being made, else the file.
    const fs::FileError denied(Kind::AccessDenied, "Permission denied");
    EXPECT_EQ(ProblemOf(denied, FileStep::kCreating), FileProblem::kFolderNotWritable);
    EXPECT_EQ(ProblemOf(denied, FileStep::kUsing), FileProblem::kReadOnlyFile);
    const fs::FileError readOnly(Kind::ReadOnly, "Read-only file system");
    EXPECT_EQ(ProblemOf(readOnly, FileStep::kCreating), FileProblem::kReadOnlyDrive);

    // Opening only reads: a structure that does not read back is damage; later it may be a
    // limit of this program, so the technical text stands alone.
    const std::runtime_error heap("heap: block 3 does not exist");
    EXPECT_EQ(DescribeFailure(heap, p, FileStep::kOpening),
              "The data file /data/mail.pst is damaged: heap: block 3 does not exist.");
    EXPECT_EQ(DescribeFailure(heap, p, FileStep::kUsing), "heap: block 3 does not exist");
}

}  // namespace
}  // namespace store
