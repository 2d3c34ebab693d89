#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "fs/mod_files.h"
#include "fs/platform_probe.h"
#include "tests/support/temp_dir.h"

namespace fs {
namespace {

using testsupport::TempDir;

std::map<std::string, uint32_t> ListAll(const std::string& pattern,
                                        std::vector<std::string>* order = nullptr) {
    std::map<std::string, uint32_t> seen;
    FileFindRecord r;
    if (FindFirstEntry(pattern, r) == kInvalidHandle) return seen;
    do {
        seen[r.FileName] = r.Attributes;
        if (order) order->push_back(r.FileName);
    } while (FindNextEntry(r));
    return seen;
}

TEST(PosixListing, PassesDotsFirstAndEveryEntryWithWindowsAttributes) {
    TempDir t;
    t.file("plain.eml");
    t.file("noextension");
    t.file(".hidden");
    t.dir("sub");
    t.dir(".hiddendir");
    for (std::string pattern : {"*", "*.*"}) {
        std::vector<std::string> order;
        auto seen = ListAll(t.str() + "/" + pattern, &order);
        ASSERT_GE(order.size(), 2u);
        EXPECT_EQ(order[0], ".");
        EXPECT_EQ(order[1], "..");
        EXPECT_EQ(seen.size(), 7u) << pattern;
        EXPECT_TRUE(seen["."] & kAttrDirectory);
        EXPECT_TRUE(seen["sub"] & kAttrDirectory);
        EXPECT_FALSE(seen["sub"] & kAttrHidden);
        EXPECT_EQ(seen[".hiddendir"] & (kAttrDirectory | kAttrHidden),
                  kAttrDirectory | kAttrHidden);
        EXPECT_EQ(seen[".hidden"] & (kAttrDirectory | kAttrHidden), kAttrHidden);
        EXPECT_FALSE(seen["noextension"] & kAttrDirectory);
    }
    // Other patterns match like Windows wildcards, letter case ignored.
    auto emls = ListAll(t.str() + "/*.EML");
    EXPECT_EQ(emls.size(), 1u);
    EXPECT_TRUE(emls.count("plain.eml"));
    EXPECT_TRUE(UseWideApi());
}

TEST(PosixListing, EndOfListingClosesTheSearchAndKeepsTheLastEntry) {
    TempDir t;
    t.file("only.txt");
    FileFindRecord r;
    ASSERT_NE(FindFirstEntry(t.str() + "/*.txt", r), kInvalidHandle);
    EXPECT_EQ(r.Found, kTrue);
    EXPECT_EQ(r.FileName, "only.txt");
    EXPECT_FALSE(FindNextEntry(r));
    EXPECT_EQ(r.Found, kFalse);
    EXPECT_EQ(r.FindHandle, 0);
    EXPECT_EQ(r.FileName, "only.txt");
    EXPECT_TRUE(CloseFind(r));  // nothing open any more: still a success
    EXPECT_EQ(r.FindHandle, kInvalidHandle);
}

TEST(PosixListing, RefusesWhatItCannotSearch) {
    TempDir t;
    FileFindRecord r;
    r.FileName = "previous";
    EXPECT_EQ(FindFirstEntry("FtP://host/*", r), kInvalidHandle);
    EXPECT_EQ(r.Found, kFalse);
    EXPECT_EQ(r.SearchPattern, "FtP://host/*");
    EXPECT_EQ(FindFirstEntry(t.str() + "/missing/*", r), kInvalidHandle);
    EXPECT_EQ(r.FindHandle, kInvalidHandle);
    EXPECT_EQ(r.FileName, "previous");
    EXPECT_EQ(GetPathAttributes(t.str() + "/missing"), kInvalidAttributes);
}

TEST(PosixExistence, TellsFilesFromFoldersAndToleratesBlanks) {
    TempDir t;
    auto file = t.file("a.eml").string();
    auto folder = t.dir("box").string();
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(folder));
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FolderExists(folder + "/"));
    EXPECT_TRUE(FolderExists("  " + folder + "  "));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_FALSE(FolderExists(t.str() + "/nothing"));
    EXPECT_FALSE(FileExists(t.str() + "/nothing"));
}

TEST(PosixListing, NamesThatAreNotUtf8SurviveListingTestingAndReopening) {
    TempDir t;
    const std::string name = "bad\xFF\xFE name\x80.eml";
    { std::ofstream(t.str() + "/" + name) << "content"; }
    auto seen = ListAll(t.str() + "/*");
    ASSERT_TRUE(seen.count(name));
    const std::string path = t.str() + "/" + name;
    EXPECT_FALSE(GetPathAttributes(path) & kAttrDirectory);
    EXPECT_TRUE(FileExists(path));
    std::ifstream in(path);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "content");
}

TEST(PosixListing, FolderLinksCarryTheFolderAndReparseBits) {
    TempDir t;
    t.dir("target");
    ASSERT_EQ(symlink((t.str() + "/target").c_str(), (t.str() + "/link").c_str()), 0);
    ASSERT_EQ(symlink((t.str() + "/gone").c_str(), (t.str() + "/dangling").c_str()), 0);
    auto seen = ListAll(t.str() + "/*");
    EXPECT_EQ(seen["link"] & (kAttrDirectory | kAttrReparsePoint),
              kAttrDirectory | kAttrReparsePoint);
    EXPECT_EQ(seen["dangling"] & (kAttrDirectory | kAttrReparsePoint), kAttrReparsePoint);
    EXPECT_EQ(IdentityOf(t.str() + "/link"), IdentityOf(t.str() + "/target"));
}

// Builds a chain of folders whose full path is longer than PATH_MAX, one level at a time.
std::string MakeDeepTree(const std::string& root, size_t minLength) {
    const std::string level(200, 'd');
    std::string path = root;
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    while (path.size() <= minLength) {
        EXPECT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
        int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        path += "/" + level;
    }
    int f = openat(fd, "deep.eml", O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(write(f, "x", 1), 1);
    close(f);
    EXPECT_EQ(mkdirat(fd, "leaf", 0755), 0);
    close(fd);
    return path;
}

TEST(PosixListing, PathsLongerThanPathMaxAreListedAndTested) {
    TempDir t;
    std::string deep = MakeDeepTree(t.str(), PATH_MAX + 300);
    ASSERT_GT(deep.size(), size_t(PATH_MAX));
    auto seen = ListAll(deep + "/*");
    EXPECT_TRUE(seen.count("deep.eml"));
    EXPECT_TRUE(seen["leaf"] & kAttrDirectory);
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(FolderExists(deep + "/leaf"));
    EXPECT_TRUE(FileExists(deep + "/deep.eml"));
    EXPECT_FALSE(GetPathAttributes(deep + "/deep.eml") & kAttrDirectory);
    EXPECT_TRUE(IdentityOf(deep + "/leaf").has_value());
    std::error_code ec;
    std::filesystem::remove_all(t.path(), ec);  // remove_all copes with long paths itself
}

TEST(PosixListing, AFolderThatCannotBeReadGivesNoSearch) {
    TempDir t;
    t.file("locked/inside.eml");
    chmod(t.str().c_str(), 0755);
    chmod((t.str() + "/locked").c_str(), 0);
    // Root reads anything, so the check runs as an unprivileged user in a child process.
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        FileFindRecord r;
        // Refused with the cause, for the run to report.
        bool refused = FindFirstEntry(t.str() + "/locked/*", r) == kInvalidHandle &&
                       r.Error == std::strerror(EACCES);
        bool fileHidden = !FileExists(t.str() + "/locked/inside.eml");
        _exit(refused && fileHidden ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    chmod((t.str() + "/locked").c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace fs
