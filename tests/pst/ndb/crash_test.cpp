// Killed writers are in posix/crash_test.cpp.
#include <gtest/gtest.h>

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::ScratchDir;

// A grown tail is tolerated only while the maps say a commit was interrupted.
TEST(CrashSafety, TailPastEofWithValidMapsIsAnError) {
    ScratchDir dir;
    const auto path = dir / "tail.pst";
    PstFile::Create(path);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + kAMapInterval);
    const auto errors = VerifyFile(path);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("longer than ibFileEof"), std::string::npos) << errors[0];
}

}  // namespace
}  // namespace pst::ndb
