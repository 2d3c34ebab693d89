// Links, open descriptors and unreadable folders are in posix/scan_posix_test.cpp.
#include "job/message_queue_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "engine/keyed_queue.h"
#include "tests/job/scan_fixture.h"

namespace job {
namespace {

using engine::DuplicateKey;
using engine::KeyedQueue;
using testing::ScanTest;
using testsupport::TempDir;
using Strings = std::vector<std::string>;

TEST_F(ScanTest, QueuesFoldersBeforeDescendingAndFilesInPreOrder) {
    TempDir t;
    const std::string R = t.str();
    const std::string S(1, fs::kPathSeparator);
    for (auto f : {"r.eml", "A/a.eml", "A/A1/a1.eml", "A/A2/a2.eml", "B/b.eml", "B/B1/b1.eml"})
        t.file(f);
    Scan(R);
    EXPECT_EQ(scanned, R + S);

    // Within one folder the listing order rules; across folders the order is fixed.
    Strings top = Listed(R, true);  // A and B in listing order
    Strings expectedFolders, expectedFiles = {R + S + "r.eml"};
    for (auto& n : top) expectedFolders.push_back(R + S + n);
    for (auto& n : top)
        for (auto& c : Listed(R + S + n, true)) expectedFolders.push_back(R + S + n + S + c);
    for (auto& n : top) {
        expectedFiles.push_back(R + S + n + S + (n == "A" ? "a.eml" : "b.eml"));
        for (auto& c : Listed(R + S + n, true)) {
            std::string lower = c;
            lower[0] = char(tolower(lower[0]));
            expectedFiles.push_back(R + S + n + S + c + S + lower + ".eml");
        }
    }
    EXPECT_EQ(Values(FolderQueue()), expectedFolders);
    EXPECT_EQ(Values(MessageQueue()), expectedFiles);
    EXPECT_EQ(Keys(FolderQueue()), (Strings{"Z0", "Z1", "Z2", "Z3", "Z4"}));
    EXPECT_EQ(Keys(MessageQueue()), (Strings{"K1", "K2", "K3", "K4", "K5", "K6"}));
    EXPECT_EQ(fileCounter, 7);
    EXPECT_EQ(folderCounter, 5);
    EXPECT_EQ(label.Caption, "6 Messages Queued for Conversion.");

    // Folder keys keep rising over later scans of the same window.
    MessageQueue().Clear();
    FolderQueue().Clear();
    Scan(R);
    EXPECT_EQ(Keys(FolderQueue()).front(), "Z5");
}

TEST_F(ScanTest, QueuesEveryFileWhateverItsNameOrAttributes) {
    TempDir t;
    for (int i = 1; i <= 250; ++i) t.file("m" + std::to_string(i) + (i % 3 ? ".eml" : ""));
    t.file(".hidden.eml");
    t.file("notes.txt");
    Scan(t.str());
    EXPECT_EQ(MessageQueue().Count(), 252u);
    EXPECT_EQ(fileCounter, 253);
    EXPECT_EQ(label.Caption, "252 Messages Queued for Conversion.");

    TempDir exact;
    for (int i = 1; i <= 250; ++i) exact.file("x" + std::to_string(i));
    MessageQueue().Clear();
    Scan(exact.str());
    EXPECT_EQ(fileCounter, 251);
    EXPECT_EQ(label.Caption, "250 Messages Queued for Conversion.");
}

TEST_F(ScanTest, EmptyMissingAndFolderOnlyTreesQueueNoFile) {
    TempDir t;
    t.dir("only/folders/here");
    Scan(fs::Utf8FromPath(t / "only"));
    EXPECT_EQ(MessageQueue().Count(), 0u);
    EXPECT_EQ(FolderQueue().Count(), 2u);
    EXPECT_EQ(label.Caption, "Conversion Not Started Yet...");

    FolderQueue().Clear();
    int32_t before = folderCounter;
    Scan(fs::Utf8FromPath(t / "missing"));
    EXPECT_EQ(MessageQueue().Count() + FolderQueue().Count(), 0u);
    EXPECT_EQ(fileCounter, 1);
    EXPECT_EQ(folderCounter, before);
}

// What a click during the scan relies on: the window gets a yield after every few files and
// every folder found, and the count it shows by then has grown with the queue.
TEST_F(ScanTest, YieldsOftenAndShowsAGrowingCount) {
    constexpr size_t kMostFilesBetweenYields = 16;
    TempDir t;
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 40; ++i) t.file("F" + std::to_string(f) + "/m" + std::to_string(i));
    t.dir("F1/Empty/Deeper");
    size_t files = 0, folders = 0, mostFiles = 0, mostFolders = 0;
    std::vector<long> shown;
    auto step = [&] {
        mostFiles = std::max(mostFiles, MessageQueue().Count() - files);
        mostFolders = std::max(mostFolders, FolderQueue().Count() - folders);
        files = MessageQueue().Count();
        folders = FolderQueue().Count();
        const long count = std::atol(label.Caption.c_str());
        if (count > 0 && (shown.empty() || shown.back() != count)) shown.push_back(count);
    };
    shell.EveryYield(step);
    Scan(t.str());
    step();  // what came after the last yield
    ASSERT_EQ(MessageQueue().Count(), 120u);
    EXPECT_LE(mostFiles, kMostFilesBetweenYields);
    EXPECT_LE(mostFolders, 1u);
    EXPECT_GE(shown.size(), 120 / kMostFilesBetweenYields);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 120);
}

TEST_F(ScanTest, AFileRemovedDuringTheScanIsNotQueued) {
    TempDir t;
    auto doomed = t.file("doomed.eml");
    t.file("kept.eml");
    // Remove the file just after the file pass has opened its listing.
    shell.EveryYield([&] {
        if (MessageQueue().Count() == 0 && shell.yields() == 9) std::filesystem::remove(doomed);
    });
    Scan(t.str());
    for (const auto& e : MessageQueue()) EXPECT_NE(e.value, fs::Utf8FromPath(doomed));
}

TEST(KeyedQueue, RefusesAKeyThatIsPresent) {
    KeyedQueue q;
    q.Add("first", "K1");
    EXPECT_THROW(q.Add("second", "K1"), DuplicateKey);
    EXPECT_EQ(q.Count(), 1u);
    EXPECT_EQ(q.Item("K1"), "first");
}

// A scan's worth of entries: the index grows many times over, and every key must still lead to
// its own value, in insertion order, with repeats refused at any size.
TEST(KeyedQueue, KeepsOrderAndKeysThroughGrowth) {
    KeyedQueue q;
    const int n = 20000;
    for (int i = 1; i <= n; ++i)
        q.Add("/mail/folder" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".eml",
              "K" + std::to_string(i));
    ASSERT_EQ(q.Count(), size_t(n));
    int i = 0;
    for (const auto& e : q) {
        ++i;
        ASSERT_EQ(e.key, "K" + std::to_string(i));
        ASSERT_EQ(e.value,
                  "/mail/folder" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".eml");
    }
    EXPECT_EQ(i, n);
    for (int k : {1, 2, 4095, 4096, 4097, n}) {
        EXPECT_EQ(q.Item("K" + std::to_string(k)), q.Value(size_t(k - 1)));
        EXPECT_THROW(q.Add("again", "K" + std::to_string(k)), DuplicateKey);
    }
    EXPECT_FALSE(q.Contains("K0"));
    EXPECT_FALSE(q.Contains("K" + std::to_string(n + 1)));
    EXPECT_THROW(q.Item("Z1"), std::out_of_range);
    EXPECT_EQ(q.Count(), size_t(n));
    q.Clear();
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_FALSE(q.Contains("K1"));
    q.Add("again", "K1");
    EXPECT_EQ(q.Item("K1"), "again");
}

}  // namespace
}  // namespace job
