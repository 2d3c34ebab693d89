#include "fs/shell_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/platform.h"
#include "tests/support/temp_dir.h"

namespace fs {
namespace {

// The desktop's opener gets the URL whole, anchor and percent-escapes included; an opener that
// fails or is missing is reported, so the caller can tell the user where the page is.
TEST(PosixShellOpen, HandsTheWholeUrlToTheDesktopOpenerAndReportsItsFailure) {
    testsupport::TempDir dir;
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const auto opener = [&](const std::string& body) {
        const std::string script = dir.str() + "/bin/xdg-open";
        dir.file("bin/xdg-open", "#!/bin/sh\n" + body + "\n");
        chmod(script.c_str(), 0755);
    };
    const std::string url = "file:///opt/my%20help/index.html#select-folder";

    opener("printf '%s' \"$1\" > '" + dir.str() + "/got'");
    testsupport::SetEnv("PATH", dir.str() + "/bin:/usr/bin:/bin");
    EXPECT_TRUE(OpenWithSystem(url));
    std::ifstream in(dir.path() / "got");
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), url);

    opener("exit 3");  // no browser for this kind of address
    EXPECT_FALSE(OpenWithSystem(url));
    testsupport::SetEnv("PATH", dir.str() + "/nowhere");
    EXPECT_FALSE(OpenWithSystem(url));
    testsupport::SetEnv("PATH", oldPath);
}

}  // namespace
}  // namespace fs
