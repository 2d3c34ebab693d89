#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "fs/file.h"
#include "fs/utf8_path.h"
#include "tests/support/temp_dir.h"

namespace fs {
namespace {

using Kind = FileError::Kind;

// Opening a pipe for reading waits for a writer; a file open must refuse it at once instead.
TEST(PosixFile, PipesAndDevicesAreRefusedWithoutWaiting) {
    testsupport::TempDir dir;
    const std::string fifo = Utf8FromPath(dir / "x.eml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {fifo, std::string("/dev/null")}) {
        for (auto mode : {File::Mode::Read, File::Mode::ReadWrite, File::Mode::Create}) {
            auto opening = std::async(std::launch::async, [&] {
                try {
                    File::Open(path, mode);
                } catch (const FileError& e) {
                    return e.GetKind();
                }
                return Kind::Other;
            });
            if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
                ADD_FAILURE() << path << " blocked the open";
                close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the open go on
            }
            EXPECT_EQ(opening.get(), Kind::NotRegularFile) << path;
        }
    }
}

}  // namespace
}  // namespace fs
