// Stop requests sent as signals to a forked converter (POSIX only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "tests/e2e/cli_fixture.h"
#include "tests/e2e/posix/start_convert.h"

namespace e2e {
namespace {

// Ctrl-C, and the requests to end that a service manager (SIGTERM) or a closing terminal
// (SIGHUP) send, stop after the current message, commit, close, and exit with 128 + signal.
TEST_F(EndToEnd, StopRequestsKeepWhatWasConvertedAndEndWithTheirOwnStatus) {
    for (int i = 0; i < 4000; ++i)
        src.file("big/m" + std::to_string(i) + ".eml", Message("m" + std::to_string(i)));
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const std::string pst = fs::Utf8FromPath(out / (std::to_string(signal) + ".pst"));
        pid_t pid = StartConvert(program, Source("big"), pst);
        // Signal once the data file exists, i.e. while messages are being converted.
        for (int i = 0; i < 3000 && !std::filesystem::exists(fs::PathFromUtf8(pst)); ++i)
            usleep(10000);
        usleep(200000);
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(RunCommand(cli + " verify " + Quote(pst)).status, 0);
        Result l = RunCommand(cli + " list " + Quote(pst));
        size_t at = l.out.find("Top of Outlook data file  (");
        ASSERT_NE(at, std::string::npos) << l.out;
        int stored =
            std::atoi(l.out.c_str() + at + std::string("Top of Outlook data file  (").size());
        EXPECT_GT(stored, 0);
        EXPECT_LT(stored, 4000);
    }
}

}  // namespace
}  // namespace e2e
