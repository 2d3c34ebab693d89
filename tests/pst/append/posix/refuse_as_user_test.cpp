// A read-only file, opened for an append by an unprivileged user: the system itself refuses
// (root may write any file). Switching to such a user takes setuid, so POSIX only.

#include <sys/wait.h>
#include <unistd.h>

#include "tests/pst/append/append_fixture.h"

namespace pst::messaging {
namespace {

using namespace testing;

TEST(AppendRefusal, ReadOnlyFileRefusedToAnUnprivilegedUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TempDir dir;
    const auto path = dir / "own.pst";
    MessageStore::Create(path, "Own")->Close();
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        try {
            MessageStore::Open(path);
        } catch (const std::exception& e) {
            _exit(std::string(e.what()).find("read-only") != std::string::npos ? 0 : 4);
        }
        _exit(5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace pst::messaging
