// A pipe named like a message (mkfifo, POSIX only) must not hang the import.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "mime/import.h"
#include "tests/mime/test_support.h"

namespace mime {
namespace {

using namespace mime::testing;

// Opening a pipe waits for a writer: a folder scan must not hang on one named like a message.
TEST(ImportFile, PipeOrDeviceNamedLikeAMessageIsRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = fs::Utf8FromPath(dir / "x.eml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        auto importing = std::async(std::launch::async, [&] { return ImportMessageFile(path); });
        if (importing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << path << " blocked the import";
            close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the import go on
        }
        const ImportResult r = importing.get();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "cannot read " + path + ": it is not a regular file");
    }
}

}  // namespace
}  // namespace mime
