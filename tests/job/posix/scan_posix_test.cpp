// Scans that need what only POSIX systems give a test: symbolic links made by any user, the
// process's open descriptors in /proc, and folders an unprivileged user may not read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/job/scan_fixture.h"

namespace job {
namespace {

using testing::ScanTest;
using testsupport::TempDir;
using Strings = std::vector<std::string>;

TEST_F(ScanTest, ALinkBackIntoTheTreeIsQueuedButNotEntered) {
    TempDir t;
    t.file("A/a.eml");
    t.file("B/b.eml");
    ASSERT_EQ(symlink(t.str().c_str(), (t.str() + "/A/loop").c_str()), 0);
    ASSERT_EQ(symlink((t.str() + "/B").c_str(), (t.str() + "/A/toB").c_str()), 0);
    Scan(t.str());
    Strings folders = Values(FolderQueue());
    EXPECT_NE(std::find(folders.begin(), folders.end(), t.str() + "/A/loop"), folders.end());
    // A link to a folder outside the current walk (a sibling) is walked like any folder.
    Strings files = Values(MessageQueue());
    EXPECT_EQ(files.size(), 3u);
    EXPECT_NE(std::find(files.begin(), files.end(), t.str() + "/A/toB/b.eml"), files.end());
}

TEST_F(ScanTest, KeepsAtMostOneDirectorySearchOpen) {
    TempDir t;
    for (auto f : {"a/1.eml", "a/b/2.eml", "a/b/c/3.eml", "d/4.eml", "d/e/5.eml"}) t.file(f);
    size_t most = 0;
    auto openDirectories = [&] {
        size_t n = 0;
        for (auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            auto target = std::filesystem::read_symlink(fd.path(), ec);
            if (!ec && fs::Utf8FromPath(target).starts_with(t.str())) ++n;
        }
        return n;
    };
    shell.EveryYield([&] { most = std::max(most, openDirectories()); });
    Scan(t.str());
    EXPECT_EQ(MessageQueue().Count(), 5u);
    EXPECT_EQ(most, 1u);
}

TEST_F(ScanTest, AnUnreadableSubfolderIsQueuedButAddsNoFiles) {
    TempDir t;
    t.file("open/a.eml");
    t.file("locked/b.eml");
    chmod((t.str() + "/locked").c_str(), 0);
    // Root reads anything, so the scan runs as an unprivileged user in a child process.
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        Scan(t.str());
        Strings folders = Values(FolderQueue());
        bool lockedQueued =
            std::find(folders.begin(), folders.end(), t.str() + "/locked") != folders.end();
        _exit(lockedQueued && MessageQueue().Count() == 1 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    chmod((t.str() + "/locked").c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace job
