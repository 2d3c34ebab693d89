// A file the user may not read, refused with the system's reason. Taking the right away needs
// mode bits and an unprivileged user to switch to; Windows would need ACLs, which Wine ignores.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mime/import.h"
#include "tests/mime/test_support.h"

namespace mime {
namespace {

using namespace mime::testing;

TEST(ImportFile, UnreadableFileGivesPermissionReason) {
    TempDir dir;
    std::string path = dir.Write("locked.eml", "Subject: x\n\ny\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    // Root reads anything: check from a child that gives up its privileges.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
        auto r = ImportMessageFile(path);
        std::string msg = (r.ok ? "ok" : "refused: ") + r.error;
        (void)!write(fds[1], msg.data(), msg.size());
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child could not drop privileges";
    EXPECT_NE(got.find("cannot open"), std::string::npos) << got;
    EXPECT_NE(got.find("Permission denied"), std::string::npos) << got;
}

}  // namespace
}  // namespace mime
