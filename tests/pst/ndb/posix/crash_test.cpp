// Processes killed in the middle of their writes, with fork and SIGKILL (POSIX only): the file
// keeps its last commit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ScratchDir;

// Commit number c adds 20 nodes (one with a data tree, one with subnodes), replaces the data
// of one node of commit c-1 and removes one node of commit c-2: every commit allocates,
// releases and frees.
Nid NodeOf(uint32_t c, uint32_t j) {
    return MakeNid(kNidTypeNormalMessage, c * 100 + j);
}
size_t SizeOf(uint32_t j) {
    return j == 2 ? 20000 : 100 + j * 10;
}

void ApplyCommit(PstFile& f, uint32_t c) {
    for (uint32_t j = 0; j < 20; ++j) {
        Bid sub = 0;
        if (j == 3) {
            SubnodeMap map;
            for (uint32_t k = 0; k < 3; ++k) {
                map[MakeNid(kNidTypeLtp, k + 1)] = {f.WriteStream(Pattern(30, c * 1000 + k)), 0};
            }
            sub = f.WriteSubnodes(map);
        }
        f.PutNode({NodeOf(c, j), f.WriteStream(Pattern(SizeOf(j), c * 100 + j)), sub, 0});
    }
    if (c >= 2) f.PutNode({NodeOf(c - 1, 0), f.WriteStream(Pattern(77, c * 100 + 99)), 0, 0});
    if (c >= 3) f.RemoveNode(NodeOf(c - 2, 1));
}

std::map<Nid, std::vector<uint8_t>> ExpectedAfter(uint32_t commits) {
    std::map<Nid, std::vector<uint8_t>> state;
    for (uint32_t c = 1; c <= commits; ++c) {
        for (uint32_t j = 0; j < 20; ++j) state[NodeOf(c, j)] = Pattern(SizeOf(j), c * 100 + j);
        if (c >= 2) state[NodeOf(c - 1, 0)] = Pattern(77, c * 100 + 99);
        if (c >= 3) state.erase(NodeOf(c - 2, 1));
    }
    return state;
}

std::map<Nid, std::vector<uint8_t>> ActualState(PstFile& f) {
    std::map<Nid, std::vector<uint8_t>> state;
    f.ForEachNode([&](const NodeEntry& n) {
        state[n.nid] = f.ReadStream(n.data);
        if (n.sub != 0) {
            const SubnodeMap map = f.ReadSubnodes(n.sub);
            EXPECT_EQ(map.size(), 3u);
            const uint32_t c = NidIndexOf(n.nid) / 100;
            uint32_t k = 0;
            for (const auto& [nid, e] : map)
                EXPECT_EQ(f.ReadStream(e.data), Pattern(30, c * 1000 + k++));
        }
    });
    return state;
}

// The child reports +c before commit c and -c after it returns.
[[noreturn]] void RunWriter(const std::filesystem::path& path, uint32_t from, int out) {
    try {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        for (uint32_t c = from + 1; c < from + 400; ++c) {
            ApplyCommit(*f, c);
            const int32_t begin = static_cast<int32_t>(c);
            if (write(out, &begin, sizeof begin) != sizeof begin) _exit(3);
            f->Commit();
            const int32_t done = -begin;
            if (write(out, &done, sizeof done) != sizeof done) _exit(3);
        }
    } catch (...) {
        _exit(2);
    }
    _exit(0);
}

TEST(CrashSafety, KilledWritersLeaveTheLastCommit) {
    ScratchDir dir;
    const auto path = dir / "crash.pst";
    PstFile::Create(path);
    uint32_t committed = 0;
    int recoveries = 0;
    int tails = 0;  // kills that left the file longer than its committed header says
    for (int round = 0; round < 24; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            RunWriter(path, committed, fds[1]);
        }
        close(fds[1]);
        // Kill times spread over the first commits of the child, at odd microsecond offsets.
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + (round * 7919) % 60000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own, status " << status;
        uint32_t lastBegun = committed;
        uint32_t lastDone = committed;
        int32_t v = 0;
        while (read(fds[0], &v, sizeof v) == sizeof v) {
            if (v > 0) lastBegun = static_cast<uint32_t>(v);
            if (v < 0) lastDone = static_cast<uint32_t>(-v);
        }
        close(fds[0]);

        // The file as the kill left it verifies and reads; a writer then repairs the maps.
        const auto asLeft = VerifyFile(path);
        ASSERT_TRUE(asLeft.empty()) << "round " << round << " as left: " << asLeft.front();
        std::map<Nid, std::vector<uint8_t>> seen;
        {
            auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
            seen = ActualState(*f);
            tails += std::filesystem::file_size(path) > f->FileSize() ? 1 : 0;
        }
        {
            auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
            recoveries += f->RecoveredMaps() ? 1 : 0;
        }
        const auto errors = VerifyFile(path);
        ASSERT_TRUE(errors.empty()) << "round " << round << ": " << errors.front();
        EXPECT_EQ(std::filesystem::file_size(path),
                  PstFile::Open(path, PstFile::Mode::ReadOnly)->FileSize());
        // The header write of the last begun commit may have reached the disk before the kill.
        if (seen == ExpectedAfter(lastDone)) {
            committed = lastDone;
        } else {
            ASSERT_GT(lastBegun, lastDone) << "round " << round;
            ASSERT_TRUE(seen == ExpectedAfter(lastBegun))
                << "round " << round << ": neither " << lastDone << " nor " << lastBegun;
            committed = lastBegun;
        }
    }
    EXPECT_GT(committed, 10u);
    EXPECT_GT(recoveries, 0);
    RecordProperty("grown_tails", tails);
}

// Deterministically the state the random kills above only sometimes reach: the writer grew the
// file by several allocation intervals and died before writing its header.
TEST(CrashSafety, WriterKilledAfterGrowingLeavesAVerifiableFile) {
    ScratchDir dir;
    const auto path = dir / "grown.pst";
    {
        auto f = PstFile::Create(path);
        ApplyCommit(*f, 1);
        f->Commit();
    }
    const uint64_t committedSize = std::filesystem::file_size(path);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
            for (uint32_t i = 0; i < 800; ++i) {
                f->PutNode({MakeNid(kNidTypeNormalMessage, 9000 + i),
                            f->WriteStream(Pattern(8000, i)), 0, 0});
            }
            _exit(0);  // before the destructor: the process dies with the transaction open
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_GT(std::filesystem::file_size(path), committedSize + kAMapInterval);
    // As if the kill had also torn the first AMap page while the commit rewrote it.
    {
        auto raw = testing::ReadAll(path);
        raw[kFirstAMapOffset + 100] ^= 0x01;
        testing::WriteAll(path, raw);
    }

    const auto report = VerifyFileReport(path);
    for (const auto& e : report.errors) ADD_FAILURE() << e;
    for (const char* expected : {"longer than ibFileEof", "AMap being rewritten"}) {
        EXPECT_TRUE(std::any_of(report.warnings.begin(), report.warnings.end(), [&](auto& w) {
            return w.find(expected) != std::string::npos;
        })) << expected;
    }
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
        EXPECT_EQ(f->FileSize(), committedSize);
        EXPECT_TRUE(ActualState(*f) == ExpectedAfter(1));
    }
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        EXPECT_TRUE(f->RecoveredMaps());
    }
    EXPECT_EQ(std::filesystem::file_size(path), committedSize);
    const auto after = VerifyFileReport(path);
    EXPECT_TRUE(after.errors.empty());
    EXPECT_TRUE(after.warnings.empty()) << after.warnings.front();
}

}  // namespace
}  // namespace pst::ndb
