// A writer killed (fork and SIGKILL, POSIX only) while blocks wait in the gathering buffer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ScratchDir;

// Killed with blocks still gathered (never written): the file is as of the last commit.
TEST(WriteCombining, KillWithGatheredBlocksLeavesTheLastCommit) {
    ScratchDir dir;
    const auto path = dir / "killed.pst";
    const Nid kept = MakeNid(kNidTypeNormalMessage, 40);
    {
        auto f = PstFile::Create(path);
        f->PutNode({kept, f->WriteStream(Pattern(20000, 1)), 0, 0});
        f->Commit();
    }
    const uint64_t committedSize = std::filesystem::file_size(path);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
            f->PutNode({kept, f->WriteStream(Pattern(300, 2)), 0, 0});
            for (uint32_t i = 0; i < 20; ++i) {
                f->PutNode({MakeNid(kNidTypeNormalMessage, 50 + i),
                            f->WriteStream(Pattern(3000, 10 + i)), 0, 0});
            }
            raise(SIGKILL);
        } catch (...) {
            _exit(2);
        }
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(std::filesystem::file_size(path), committedSize)
        << "gathered blocks reached the file";
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
        std::vector<Nid> nodes;
        f->ForEachNode([&](const NodeEntry& n) { nodes.push_back(n.nid); });
        EXPECT_EQ(nodes, std::vector<Nid>{kept});
        EXPECT_EQ(f->ReadStream(f->FindNode(kept)->data), Pattern(20000, 1));
    }
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        EXPECT_TRUE(f->RecoveredMaps());
    }
    EXPECT_TRUE(VerifyFile(path).empty());
}

}  // namespace
}  // namespace pst::ndb
