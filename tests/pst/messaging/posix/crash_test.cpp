// A writer killed at arbitrary moments (fork and SIGKILL, POSIX only) leaves a store holding
// exactly its committed messages.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "pst/ndb/pst_file.h"
#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

using testing::MakeAttachment;
using testing::MakeMessage;
using testing::Pattern;
using testing::TempDir;

constexpr int kBatch = 7;

// The child: appends messages to "Crash" forever, committing every kBatch messages and then
// reporting the committed total on `out`.
[[noreturn]] void WriteUntilKilled(const std::filesystem::path& file, int out) {
    try {
        auto store = std::filesystem::exists(file) ? MessageStore::Open(file)
                                                   : MessageStore::Create(file, "Crash");
        store->SetAutoCommitInterval(0);
        auto folder = store->FindSubfolder(store->IpmSubtree(), "Crash");
        if (!folder) folder = store->CreateFolder(store->IpmSubtree(), "Crash");
        store->Commit();
        uint32_t total = store->GetFolderInfo(*folder).contentCount;
        for (;;) {
            MessageContent m = MakeMessage("crash " + std::to_string(total), "body");
            if (total % 3 == 0)
                m.attachments.push_back(
                    MakeAttachment("a.bin", Pattern(3000 + total % 5000, total)));
            store->AddMessage(*folder, m);
            if (++total % kBatch == 0) {
                store->Commit();
                if (write(out, &total, sizeof total) != sizeof total) _exit(3);
            }
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "writer failed: %s\n", e.what());
        _exit(2);
    }
}

TEST(CrashTest, KilledWriterLeavesEveryCommittedMessage) {
    TempDir dir;
    const auto file = dir / "crash.pst";
    std::mt19937 random(12345);
    uint32_t lastReported = 0;
    for (int round = 0; round < 25; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            WriteUntilKilled(file, fds[1]);
        }
        close(fds[1]);
        // Let it commit a few batches, then kill it somewhere inside its work.
        const int batches = 1 + int(random() % 4);
        uint32_t reported = 0;
        for (int b = 0; b < batches; ++b)
            ASSERT_EQ(read(fds[0], &reported, sizeof reported), ssize_t(sizeof reported))
                << "writer stopped early in round " << round;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        // Reports that reached the pipe before the kill.
        uint32_t more = 0;
        while (read(fds[0], &more, sizeof more) == ssize_t(sizeof more)) reported = more;
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer exited on its own in round " << round;
        ASSERT_GT(reported, lastReported);
        lastReported = reported;

        // As the kill left it, the store verifies; a commit may have finished after the last
        // report, never half of one. (The node database may still hold the space of the
        // interrupted transaction beyond its end of file; reopening for writing repairs that,
        // and the full check runs after it.)
        {
            auto asLeft = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
            for (const auto& e : VerifyStore(*asLeft).errors) ADD_FAILURE() << e;
        }
        auto store = MessageStore::Open(file);
        const Nid folder = *store->FindSubfolder(store->IpmSubtree(), "Crash");
        const auto ids = store->Messages(folder);
        EXPECT_TRUE(ids.size() == reported || ids.size() == reported + kBatch)
            << "round " << round << ": " << ids.size() << " messages, " << reported
            << " reported committed";
        EXPECT_EQ(store->GetFolderInfo(folder).contentCount, ids.size());
        for (size_t i = 0; i < ids.size(); ++i)
            ASSERT_EQ(store->ReadMessage(ids[i]).props.Find(0x0037001F)->AsUtf8(),
                      "crash " + std::to_string(i));
        store->Close();
        testing::ExpectVerified(file);
        if (HasFailure()) return;
    }
}

// A new file killed while it is being made: the name holds a whole store or nothing, and the
// next creation goes through whatever the kill left beside it.
TEST(CrashTest, KilledCreationLeavesAWholeStoreOrNothing) {
    TempDir dir;
    const auto file = dir / "new.pst";
    // Kills land anywhere within about three creations, however fast this build makes one.
    const auto started = std::chrono::steady_clock::now();
    MessageStore::Create(file, "New")->Close();
    const auto once = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    std::mt19937 random(20261208);
    int whole = 0;
    for (int round = 0; round < 30; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (;;) {
                    std::filesystem::remove(file);
                    MessageStore::Create(file, "New")->Close();
                }
            } catch (const std::exception& e) {
                fprintf(stderr, "creation failed: %s\n", e.what());
                _exit(2);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % (3 * once + 1)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": creation failed";
        if (!std::filesystem::exists(file)) continue;
        ++whole;
        auto store = MessageStore::Open(file);
        EXPECT_EQ(store->DisplayName(), "New") << "round " << round;
        store->Close();
    }
    EXPECT_GT(whole, 0);
}

}  // namespace
}  // namespace pst::messaging
