// Many mailboxes at once: workers inside one run (--jobs), and shards of a root run side by side
// by a batch tool (GNU parallel here) whose JSON summaries are merged afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <vector>

#include "tests/e2e/cli_fixture.h"

namespace e2e {
namespace {

class ManyMailboxes : public EndToEnd {
  protected:
    std::string Read(const std::filesystem::path& p) {
        std::ifstream in(p);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The messages in the top folder of a data file, or -1 when it cannot be listed.
    int Stored(const std::filesystem::path& pst) {
        Result l = RunCommand(cli + " list " + Quote(fs::Utf8FromPath(pst)));
        size_t at = l.out.find("Top of Outlook data file  (");
        if (l.status != 0 || at == std::string::npos) return -1;
        return std::atoi(l.out.c_str() + at + std::string("Top of Outlook data file  (").size());
    }
    // A JSON summary with what differs between two runs of the same work taken out: the time,
    // the sizes, the output folder.
    std::string Comparable(std::string json, const std::string& outFolder) {
        json = std::regex_replace(json, std::regex("\"pstBytes\": [0-9]+, "), "");
        json = std::regex_replace(json, std::regex("\"seconds\": [0-9.]+"), "");
        for (size_t at; (at = json.find(outFolder)) != std::string::npos;)
            json.replace(at, outFolder.size(), "OUT");
        return json;
    }
};

TEST_F(ManyMailboxes, FourShardsRunByGnuParallelConvertEachMailboxOnceAndMergeIntoOneRun) {
    if (std::system("parallel --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    // Mailbox b holds b + 1 messages; box07 also a file that fails.
    for (int b = 0; b < 12; ++b)
        for (int m = 0; m <= b; ++m)
            src.file("root/box" + std::string(b < 10 ? "0" : "") + std::to_string(b) + "/m" +
                         std::to_string(m) + ".eml",
                     Message("m" + std::to_string(m)));
    src.file("root/box07/broken.eml", "");
    std::filesystem::create_directories(out / "shards");
    std::filesystem::create_directories(out / "one");
    const std::string root = Quote(Source("root"));

    Result p = RunCommand("parallel --will-cite -j4 " + cli +
                          " convert --mailboxes --quiet --shard {}/4 --json " +
                          Quote(out.str() + "/shard{}.json") + " " + root + " " +
                          Quote(fs::Utf8FromPath(out / "shards")) + " ::: 0 1 2 3");
    EXPECT_EQ(p.status, 1) << p.out;  // the one shard holding box07
    std::vector<std::string> made;
    for (const auto& e : std::filesystem::directory_iterator(out / "shards"))
        made.push_back(e.path().filename().string());
    std::sort(made.begin(), made.end());
    ASSERT_EQ(made.size(), 12u);
    for (int b = 0; b < 12; ++b) {
        const std::string name = made[size_t(b)];
        SCOPED_TRACE(name);
        EXPECT_EQ(
            RunCommand(cli + " verify " + Quote(fs::Utf8FromPath(out / "shards" / name))).status,
            0);
        EXPECT_EQ(Stored(out / "shards" / name), b + 1);  // twice converted would be twice as many
    }

    // The merged summaries say what one run over all twelve says, with the same exit status.
    Result one = RunCommand(cli + " convert --mailboxes --quiet --jobs 2 --json " +
                            Quote(fs::Utf8FromPath(out / "one.json")) + " " + root + " " +
                            Quote(fs::Utf8FromPath(out / "one")));
    EXPECT_EQ(one.status, 1) << one.out;
    std::string shards;
    for (int k = 0; k < 4; ++k)
        shards += " " + Quote(out.str() + "/shard" + std::to_string(k) + ".json");
    auto merged = testsupport::RunShellCommand(cli + " summary merge --json" + shards);
    EXPECT_EQ(merged.status, 1);
    EXPECT_EQ(Comparable(merged.output, fs::Utf8FromPath(out / "shards")),
              Comparable(Read(out / "one.json"), fs::Utf8FromPath(out / "one")));
    Result text = RunCommand(cli + " summary merge" + shards);
    EXPECT_NE(text.out.find("Converted with failures. 78 of 79 message files converted, 1 failed."),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find(" is in "), std::string::npos) << text.out;  // no mailbox twice

    // More shards than mailboxes: the one left without is no failure.
    std::filesystem::create_directories(out / "none");
    EXPECT_EQ(RunCommand(cli + " convert --mailboxes --quiet --shard 12/13 " + root + " " +
                         Quote(fs::Utf8FromPath(out / "none")))
                  .status,
              0);
    EXPECT_TRUE(std::filesystem::is_empty(out / "none"));

    // One summary merged alone is read back as it was written.
    auto alone = testsupport::RunShellCommand(cli + " summary merge --json " +
                                              Quote(out.str() + "/shard1.json"));
    EXPECT_EQ(alone.output, Read(out / "shard1.json"));
}

// Every worker stops after its current message, commits and closes; the run ends with the
// signal's status and its summary counts what the files hold.
TEST_F(ManyMailboxes, ATerminationStopsEveryWorkerAndKeepsWhatEachConverted) {
    // Large enough that no worker ends before the last one has begun, even on a busy machine.
    const int perBox = 4000;
    for (const char* box : {"a", "b", "c"})
        for (int i = 0; i < perBox; ++i)
            src.file(std::string("root/") + box + "/m" + std::to_string(i) + ".eml",
                     Message("m" + std::to_string(i)));
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    std::filesystem::create_directories(out / "pst");
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "convert", "--mailboxes", "--quiet", "--jobs", "3",
              "--json", json.c_str(), Source("root").c_str(), fs::Utf8FromPath(out / "pst").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    auto allStarted = [&] {
        for (const char* box : {"a.pst", "b.pst", "c.pst"})
            if (!std::filesystem::exists(out / "pst" / box)) return false;
        return true;
    };
    for (int i = 0; i < 3000 && !allStarted(); ++i) usleep(10000);
    usleep(100000);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 143);
    int stored = 0;
    for (const char* box : {"a.pst", "b.pst", "c.pst"}) {
        SCOPED_TRACE(box);
        const auto pst = out / "pst" / box;
        EXPECT_EQ(RunCommand(cli + " verify " + Quote(fs::Utf8FromPath(pst))).status, 0);
        const int n = Stored(pst);
        EXPECT_GE(n, 0);  // listable; a worker still setting up may have none yet
        EXPECT_LT(n, perBox);
        stored += n;
    }
    EXPECT_GT(stored, 0);
    const std::string summary = Read(out / "summary.json");
    EXPECT_NE(summary.find("\"converted\": " + std::to_string(stored) + ",\n"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("\"outcome\": \"stopped\""), std::string::npos) << summary;
}

TEST_F(ManyMailboxes, AMailboxWhoseDataFileFailsLeavesTheOthersConverted) {
    for (const char* box : {"a", "b", "c"}) {
        src.file(std::string("root/") + box + "/1.eml", Message("1"));
        src.file(std::string("root/") + box + "/2.eml", Message("2"));
    }
    std::filesystem::create_directories(out / "pst");
    std::ofstream(out / "pst" / "b.pst") << "this is not a data file";
    const std::string run = cli + " convert --mailboxes --jobs 3 " + Quote(Source("root")) + " " +
                            Quote(fs::Utf8FromPath(out / "pst"));
    Result r = RunCommand(run);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Not converted: " + Source("root/b")), std::string::npos) << r.out;
    EXPECT_EQ(Stored(out / "pst" / "a.pst"), 2);
    EXPECT_EQ(Stored(out / "pst" / "c.pst"), 2);

    // When no data file at all can be opened, the run says so as a single one would.
    for (const char* box : {"a.pst", "c.pst"})
        std::ofstream(out / "pst" / box) << "this is not a data file";
    EXPECT_EQ(RunCommand(run).status, 3);
}

}  // namespace
}  // namespace e2e
