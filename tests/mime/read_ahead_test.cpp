// Reading ahead on other threads: results reach the caller in list order whatever it takes or
// passes over and however many workers read, and stopping early neither hangs nor leaks.
#include "mime/read_ahead.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace mime {
namespace {

using testing::TempDir;
using testing::Utf8;

constexpr uint32_t kSubject = 0x0037001F;

std::vector<std::string> WriteMessages(const TempDir& dir, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(dir.Write("m" + std::to_string(i) + ".eml",
                                  "Subject: number " + std::to_string(i) + "\n\nbody\n"));
    return paths;
}

TEST(ReadAhead, HandsOutEachListedFileInOrderAndSkipsWhatIsPassedOver) {
    TempDir dir;
    auto paths = WriteMessages(dir, 12);
    for (size_t workers : {1, 3}) {
        // The list comes in two parts; the second arrives once the workers have run dry.
        ReadAhead ahead({paths.begin(), paths.begin() + 6}, 3, {}, 64u << 20, {}, workers);
        for (int i : {0, 1, 2, 5, 6, 11}) {
            if (i == 5) ahead.append({paths.begin() + 6, paths.end()});
            auto r = ahead.take(paths[size_t(i)]);
            ASSERT_TRUE(r) << i;
            ASSERT_TRUE(r->ok) << r->error;
            EXPECT_EQ(Utf8(r->content.props, kSubject), "number " + std::to_string(i));
        }
        // Behind the caller or never listed: the caller reads it itself.
        EXPECT_FALSE(ahead.take(paths[3]));
        EXPECT_FALSE(ahead.take(fs::Utf8FromPath(dir.path() / "other.eml")));
    }
}

TEST(ReadAhead, ReportsUnreadableFilesAndStopsWithResultsUntaken) {
    TempDir dir;
    auto paths = WriteMessages(dir, 3);
    paths.insert(paths.begin() + 1, fs::Utf8FromPath(dir.path() / "missing.eml"));
    {
        ReadAhead ahead(paths, 2);
        auto first = ahead.take(paths[0]);
        ASSERT_TRUE(first && first->ok);
        auto missing = ahead.take(paths[1]);
        ASSERT_TRUE(missing);
        EXPECT_FALSE(missing->ok);
        EXPECT_NE(missing->error.find("missing.eml"), std::string::npos) << missing->error;
    }  // two results may still wait: the worker is stopped and joined
    ReadAhead unused(WriteMessages(dir, 50), 4);
}

TEST(ReadAhead, AByteBudgetSmallerThanOneFileStillHandsOutEverything) {
    TempDir dir;
    auto paths = WriteMessages(dir, 40);
    for (uint64_t budget : {uint64_t{1}, uint64_t{64} << 20}) {
        ReadAhead ahead(paths, 16, {}, budget, {}, budget == 1 ? 4 : 2);
        for (size_t i = 0; i < paths.size(); ++i) {
            auto r = ahead.take(paths[i]);
            ASSERT_TRUE(r && r->ok) << i;
            EXPECT_EQ(Utf8(r->content.props, kSubject), "number " + std::to_string(i));
            ahead.recycle(std::move(r->content));  // freed by the worker, or here when over
        }
    }
}

TEST(ReadAhead, AnEmptyListAnswersNothing) {
    ReadAhead ahead({}, 4);
    EXPECT_FALSE(ahead.take("/nowhere/x.eml"));
}

}  // namespace
}  // namespace mime
