// Ctrl-C on the command line, sent as SIGINT to a forked converter (POSIX only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/cli_fixture.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, CtrlCStopsAfterTheCurrentMessageAndKeepsWhatWasConverted) {
    for (int i = 0; i < 4000; ++i)
        src.file("big/m" + std::to_string(i) + ".eml", Message("m" + std::to_string(i)));
    const std::string pst = fs::Utf8FromPath(out / "int.pst");
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "convert", "--quiet", Source("big").c_str(),
              pst.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt once the data file exists, i.e. while messages are being converted.
    for (int i = 0; i < 3000 && !std::filesystem::exists(fs::PathFromUtf8(pst)); ++i) usleep(10000);
    usleep(200000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(pst)).status, 0);
    Result l = RunCommand(cli + " list " + Quote(pst));
    int stored = 0;
    size_t at = l.out.find("Top of Outlook data file  (");
    ASSERT_NE(at, std::string::npos) << l.out;
    stored = std::atoi(l.out.c_str() + at + std::string("Top of Outlook data file  (").size());
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 4000);
}

}  // namespace
}  // namespace e2e
