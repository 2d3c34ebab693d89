// A conversion killed at any moment and run again ends with every source message stored once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "pst/messaging/message_store.h"
#include "store/pst_session.h"
#include "tests/e2e/cli_fixture.h"
#include "tests/e2e/posix/start_convert.h"

namespace e2e {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

TEST_F(EndToEnd, RunsKilledAtRandomMomentsAndRepeatedStoreEveryMessageExactlyOnce) {
    constexpr int kMessages = 20000;
    for (int i = 0; i < kMessages; ++i)
        src.file("box/" + std::string(i % 3 ? "Inbox" : "Work") + "/m" + std::to_string(i) + ".eml",
                 Message("m" + std::to_string(i)));
    const std::string pst = fs::Utf8FromPath(out / "resumed.pst");
    const auto convert = [&] { return StartConvert(program, Source("box"), pst); };
    std::mt19937 random(20261208);
    for (int kill = 0; kill < 10; ++kill) {
        pid_t pid = convert();
        usleep(useconds_t(std::uniform_int_distribution<int>(50, 1500)(random)) * 1000);
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid = convert();
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(pst)).status, 0);

    // Source digests as an independent tool computes them, against the ones stored.
    std::map<std::string, int> expected;
    Result sums = RunCommand("find " + Quote(Source("box")) + " -type f -exec sha256sum {} +");
    std::istringstream lines(sums.out);
    for (std::string line; std::getline(lines, line);) ++expected[line.substr(0, 64)];
    ASSERT_EQ(expected.size(), size_t(kMessages));  // every message file differs

    std::map<std::string, int> stored;
    auto store = pst::messaging::MessageStore::Open(fs::PathFromUtf8(pst));
    std::vector<pst::ndb::Nid> folders{store->IpmSubtree()};
    for (size_t i = 0; i < folders.size(); ++i) {
        for (auto nid : store->SubfolderNids(folders[i])) folders.push_back(nid);
        for (const auto& digest : store->NamedBinaries(folders[i], store::SourceDigestName()))
            ++stored[Hex(std::string(digest.begin(), digest.end()))];
    }
    store->Close();
    EXPECT_EQ(stored, expected);
}

}  // namespace
}  // namespace e2e
