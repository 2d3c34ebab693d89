// Threads that read messages end cleanly. Reading keeps caches per thread (a file buffer, which
// charsets the converter knows); MinGW's thread library destroys thread-local objects after
// their storage is gone, so a cache with a destructor crashed the reading thread at its exit.
#include <gtest/gtest.h>

#include <thread>

#include "fs/utf8_path.h"
#include "mime/import.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ReadingThreads, EndCleanlyAfterImporting) {
    testsupport::TempDir dir;
    const std::string path = fs::Utf8FromPath(dir.file(
        "m.eml",
        "From: a@example.org\r\nSubject: s\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n"
        "\r\n\x1B$B$3$s\x1B(B\r\n"));
    for (int i = 0; i < 40; ++i) {
        std::thread([&] {
            const auto result = mime::ImportMessageFile(path);
            EXPECT_TRUE(result.error.empty()) << result.error;
        }).join();
    }
}

}  // namespace
