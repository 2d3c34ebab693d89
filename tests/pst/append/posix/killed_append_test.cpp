// A session killed (fork and SIGKILL, POSIX only) in the middle of an append to our own file.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/append/append_fixture.h"

namespace pst::messaging {
namespace {

using namespace testing;

// The child appends with a commit every 25 messages and reports each commit it finished; the
// parent kills it mid-append at different moments.
TEST(OwnFileAppend, KilledAppendLeavesTheLastCommit) {
    TempDir dir;
    const auto file = dir / "own.pst";
    {
        auto store = MessageStore::Create(file, "Own");
        store->ValidateIpmTree();
        const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
        for (int i = 0; i < 30; ++i) store->AddMessage(inbox, AppendedMessage("old", i));
        store->Close();
    }
    size_t committed = 0;  // messages in "Appended" as of the last commit we know of
    bool sawGrownTail = false;
    for (int round = 0; round < 6; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            try {
                auto store = MessageStore::Open(file);
                store->SetAutoCommitInterval(0);
                const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
                const Nid folder = store->FindSubfolder(inbox, "Appended").value_or(0)
                                       ? *store->FindSubfolder(inbox, "Appended")
                                       : store->CreateFolder(inbox, "Appended");
                for (int i = 0; i < 100000; ++i) {
                    store->AddMessage(folder, AppendedMessage("round" + std::to_string(round), i));
                    if (i % 25 == 24) {
                        store->Commit();
                        const int32_t done = i + 1;
                        if (write(fds[1], &done, sizeof done) != sizeof done) _exit(3);
                    }
                }
            } catch (...) {
                _exit(2);
            }
            _exit(0);
        }
        close(fds[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + round * 97));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own, status " << status;
        int32_t done = 0, v = 0;
        while (read(fds[0], &v, sizeof v) == sizeof v) done = v;
        close(fds[0]);

        // As the kill left it: sound, the old content intact, the appended messages of the last
        // finished commit (or of the one whose header reached the disk just before the kill).
        auto report = VerifyStoreFile(file);
        for (const auto& e : report.errors) ADD_FAILURE() << "round " << round << ": " << e;
        {
            auto f = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
            sawGrownTail |= std::filesystem::file_size(file) > f->FileSize();
        }
        auto store = MessageStore::Open(file, true);
        const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
        const auto old = Subjects(*store, inbox);
        ASSERT_EQ(old.size(), 30u);
        EXPECT_EQ(old[29], "old message 29");
        const auto appended = store->FindSubfolder(inbox, "Appended");
        const size_t now = appended ? Subjects(*store, *appended).size() : 0;
        EXPECT_TRUE(now == committed + size_t(done) || now == committed + size_t(done) + 25)
            << "round " << round << ": " << now << " messages, " << committed << " + " << done;
        if (appended) {
            EXPECT_EQ(store->GetFolderInfo(*appended).contentCount, now);
        }
        committed = now;
    }
    EXPECT_GT(committed, 0u);
    RecordProperty("grown_tail_seen", sawGrownTail ? 1 : 0);

    // The next session repairs what the kill left and appends as usual.
    Append(file, "after", 10, "Appended");
    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    EXPECT_EQ(store->GetFolderInfo(*store->FindSubfolder(inbox, "Appended")).contentCount,
              committed + 10);
}

}  // namespace
}  // namespace pst::messaging
