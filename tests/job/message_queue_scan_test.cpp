#include "job/message_queue_scan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fs/mod_files.h"
#include "engine/keyed_queue.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"

namespace job {
namespace {

using engine::DuplicateKey;
using engine::FolderQueue;
using engine::KeyedQueue;
using engine::MessageQueue;
using testsupport::TempDir;
using Strings = std::vector<std::string>;

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageQueue().Clear();
        FolderQueue().Clear();
    }
    void TearDown() override { SetUp(); }

    // Runs a scan as the job driver does: counter 1 before the scan.
    void Scan(std::string folder) {
        fileCounter = 1;
        BuildMessageQueue(folder, "*.*", fileCounter, folderCounter, label, shell);
        scanned = folder;
    }

    static Strings Values(const KeyedQueue& q) {
        Strings v;
        for (const auto& e : q) v.emplace_back(e.value);
        return v;
    }
    static Strings Keys(const KeyedQueue& q) {
        Strings v;
        for (const auto& e : q) v.emplace_back(e.key);
        return v;
    }
    // Names of a folder's entries in the order the directory search gives them.
    static Strings Listed(const std::string& folder, bool folders) {
        Strings names;
        fs::FileFindRecord r;
        if (fs::FindFirstEntry(folder + "/*", r) == fs::kInvalidHandle) return names;
        do {
            if (r.FileName == "." || r.FileName == "..") continue;
            if (bool(r.Attributes & fs::kAttrDirectory) == folders) names.push_back(r.FileName);
        } while (fs::FindNextEntry(r));
        return names;
    }

    int32_t fileCounter = 1;
    int32_t folderCounter = 0;
    ui::Label label{{}, "Conversion Not Started Yet..."};
    ui::ScriptedShell shell;
    std::string scanned;
};

TEST_F(ScanTest, QueuesFoldersBeforeDescendingAndFilesInPreOrder) {
    TempDir t;
    const std::string R = t.str();
    for (auto f : {"r.eml", "A/a.eml", "A/A1/a1.eml", "A/A2/a2.eml", "B/b.eml", "B/B1/b1.eml"})
        t.file(f);
    Scan(R);
    EXPECT_EQ(scanned, R + "/");

    // Within one folder the listing order rules; across folders the order is fixed.
    Strings top = Listed(R, true);  // A and B in listing order
    Strings expectedFolders, expectedFiles = {R + "/r.eml"};
    for (auto& n : top) expectedFolders.push_back(R + "/" + n);
    for (auto& n : top)
        for (auto& c : Listed(R + "/" + n, true)) expectedFolders.push_back(R + "/" + n + "/" + c);
    for (auto& n : top) {
        expectedFiles.push_back(R + "/" + n + "/" + (n == "A" ? "a.eml" : "b.eml"));
        for (auto& c : Listed(R + "/" + n, true)) {
            std::string lower = c;
            lower[0] = char(tolower(lower[0]));
            expectedFiles.push_back(R + "/" + n + "/" + c + "/" + lower + ".eml");
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
    Scan(t.str() + "/only");
    EXPECT_EQ(MessageQueue().Count(), 0u);
    EXPECT_EQ(FolderQueue().Count(), 2u);
    EXPECT_EQ(label.Caption, "Conversion Not Started Yet...");

    FolderQueue().Clear();
    int32_t before = folderCounter;
    Scan(t.str() + "/missing");
    EXPECT_EQ(MessageQueue().Count() + FolderQueue().Count(), 0u);
    EXPECT_EQ(fileCounter, 1);
    EXPECT_EQ(folderCounter, before);
}

TEST_F(ScanTest, YieldsAtEveryListedPoint) {
    TempDir t;
    t.file("f.eml");
    t.dir("S");
    Scan(t.str());
    // Root: 1 (separator) + subfolder pass 2 dots + 3 for S + 2 for f + file pass 1 (opened)
    // + 4 entries + 1 for f + 1 before the descents. S: 1 (descent) + 1 (separator) + 2 dots
    // + file pass 1 + 2 dots.
    EXPECT_EQ(shell.yields(), 1 + 2 + 3 + 2 + 1 + 4 + 1 + 1 + 1 + 1 + 2 + 1 + 2);
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
    for (const auto& e : MessageQueue()) EXPECT_NE(e.value, doomed.string());
}

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
            if (!ec && target.string().starts_with(t.str())) ++n;
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
