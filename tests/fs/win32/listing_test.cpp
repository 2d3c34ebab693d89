// Real listings of temporary trees through the wide calls, as on any NT-family system.
#include <map>
#include <vector>

#include "fs/mod_files.h"
#include "tests/fs/win32/win32_fixture.h"

namespace fs::win32::testing {
namespace {

struct Entry {
    std::string name;
    uint32_t attributes;
};

// Runs a whole listing the way the queue scan does: first entry, then next until false.
std::vector<Entry> ListAll(const std::string& pattern, FileFindRecord& record) {
    std::vector<Entry> entries;
    if (FindFirstEntry(pattern, record) == kInvalidHandle) return entries;
    do {
        entries.push_back({record.FileName, record.Attributes});
    } while (FindNextEntry(record));
    return entries;
}

std::map<std::string, uint32_t> ByName(const std::vector<Entry>& entries) {
    std::map<std::string, uint32_t> m;
    for (const Entry& e : entries) m[e.name] = e.attributes;
    return m;
}

class Listing : public ::testing::Test {
  protected:
    FreshModule module_;
    TempTree tree_;
    void SetUp() override { ASSERT_TRUE(tree_.ok()); }
};

TEST_F(Listing, PassesOnDotsHiddenAndSystemEntries) {
    tree_.File("plain.eml");
    tree_.File("hidden.eml", FILE_ATTRIBUTE_HIDDEN);
    tree_.File("system.eml", FILE_ATTRIBUTE_SYSTEM);
    tree_.Folder("sub", FILE_ATTRIBUTE_HIDDEN);

    FileFindRecord record;
    std::vector<Entry> entries = ListAll(tree_.path() + "*", record);
    std::map<std::string, uint32_t> byName = ByName(entries);

    ASSERT_EQ(entries.size(), 6u) << "each entry exactly once, dots included";
    ASSERT_EQ(byName.size(), 6u);
    EXPECT_TRUE(byName.at(".") & kAttrDirectory);
    EXPECT_TRUE(byName.at("..") & kAttrDirectory);
    EXPECT_FALSE(byName.at("plain.eml") & (kAttrDirectory | kAttrHidden | kAttrSystem));
    EXPECT_TRUE(byName.at("hidden.eml") & kAttrHidden);
    EXPECT_TRUE(byName.at("system.eml") & kAttrSystem);
    EXPECT_EQ(byName.at("sub") & (kAttrDirectory | kAttrHidden), kAttrDirectory | kAttrHidden);

    // "*.*" lists the same entries.
    FileFindRecord again;
    EXPECT_EQ(ByName(ListAll(tree_.path() + "*.*", again)), byName);
}

TEST_F(Listing, EndOfListingClosesTheSearchAndKeepsTheLastEntry) {
    tree_.File("only.eml");
    FileFindRecord record;
    intptr_t handle = FindFirstEntry(tree_.path() + "only.eml", record);
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(record.Found, kTrue);
    EXPECT_EQ(record.FindHandle, handle);
    EXPECT_EQ(record.SearchPattern, tree_.path() + "only.eml");
    EXPECT_EQ(record.FileName, "only.eml");

    EXPECT_FALSE(FindNextEntry(record));
    EXPECT_EQ(record.Found, kFalse);
    EXPECT_EQ(record.FindHandle, 0) << "ended, not merely closed";
    EXPECT_EQ(record.FileName, "only.eml");
    EXPECT_FALSE(record.Attributes & kAttrDirectory);

    // The search is gone: closing again is a no-op that succeeds, and a further next fails.
    EXPECT_TRUE(CloseFind(record));
    EXPECT_EQ(record.FindHandle, kInvalidHandle);
    EXPECT_FALSE(FindNextEntry(record));
    EXPECT_EQ(record.FileName, "only.eml");
}

TEST_F(Listing, FailedOpenKeepsThePreviousEntryAndANewSearchCanStartAfterAClose) {
    tree_.File("a.eml");
    FileFindRecord record;
    ASSERT_NE(FindFirstEntry(tree_.path() + "a.eml", record), kInvalidHandle);
    EXPECT_TRUE(CloseFind(record));
    EXPECT_EQ(record.Found, kFalse);
    EXPECT_EQ(record.FindHandle, kInvalidHandle);

    EXPECT_EQ(FindFirstEntry(tree_.path() + "missing\\*", record), kInvalidHandle);
    EXPECT_EQ(record.Found, kFalse);
    EXPECT_EQ(record.FindHandle, kInvalidHandle);
    EXPECT_EQ(record.FileName, "a.eml");
    EXPECT_EQ(record.SearchPattern, tree_.path() + "missing\\*");
    // A folder that cannot be listed is told in the system's words; a pattern that matches
    // nothing is no failure.
    EXPECT_FALSE(record.Error.empty());
    EXPECT_EQ(FindFirstEntry(tree_.path() + "*.none", record), kInvalidHandle);
    EXPECT_EQ(record.Error, "");

    EXPECT_NE(FindFirstEntry(tree_.path() + "*", record), kInvalidHandle);
    EXPECT_TRUE(CloseFind(record));
}

TEST_F(Listing, FtpPatternsOpenNothingInAnyLetterCase) {
    for (const std::string pattern : {"ftp://host/in/*", "FTP://host/*", "Ftp://"}) {
        FileFindRecord record;
        record.FindHandle = 0;
        EXPECT_EQ(FindFirstEntry(pattern, record), kInvalidHandle) << pattern;
        EXPECT_EQ(record.Found, kFalse);
        EXPECT_EQ(record.SearchPattern, pattern);
    }
    EXPECT_FALSE(ModuleState().probeDone) << "an ftp pattern is refused before the probe runs";
}

TEST_F(Listing, FolderPathLongerThan260CharactersIsListedAndTested) {
    std::string relative;
    std::string deep;
    for (int level = 0; level < 6; ++level) {
        relative += std::string(50, char('a' + level));
        deep = tree_.Folder(relative);
        relative += "\\";
    }
    ASSERT_GT(deep.size(), 300u);
    std::string file = tree_.File(relative + "deep message.eml");

    FileFindRecord record;
    std::map<std::string, uint32_t> byName = ByName(ListAll(deep + "*", record));
    EXPECT_EQ(byName.size(), 3u);
    EXPECT_TRUE(byName.count("deep message.eml"));
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(FolderExists(deep.substr(0, deep.size() - 1)));
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(GetPathAttributes(file) & kAttrDirectory, 0u);
    EXPECT_NE(GetPathAttributes(file), kInvalidAttributes);
    EXPECT_TRUE(IdentityOf(file).has_value());
}

TEST_F(Listing, NameOutsideAnyAnsiCodePageSurvivesFromTheFirstSearchOn) {
    // Cyrillic, CJK and an emoji (a surrogate pair in UTF-16).
    const std::string name = "Привет 世界 \xF0\x9F\x93\xA8.eml";
    std::string folder = tree_.Folder("Почта");
    tree_.File("Почта\\" + name);
    ASSERT_FALSE(ModuleState().probeDone);

    // The very first operation of the "process" is the listing itself.
    FileFindRecord record;
    std::map<std::string, uint32_t> byName = ByName(ListAll(folder + "*", record));
    EXPECT_TRUE(ModuleState().UseWideApi);
    ASSERT_TRUE(byName.count(name)) << "listed names came back altered";

    // The name as listed reopens the file.
    EXPECT_TRUE(FileExists(folder + name));
    EXPECT_EQ(GetPathAttributes(folder + name) & kAttrDirectory, 0u);
    FileFindRecord single;
    ASSERT_NE(FindFirstEntry(folder + name, single), kInvalidHandle);
    EXPECT_EQ(single.FileName, name);
    CloseFind(single);
}

TEST_F(Listing, ExistenceTestsTellFilesFromFolders) {
    std::string folder = tree_.Folder("in");
    std::string file = tree_.File("in\\m.eml");
    std::string bare = folder.substr(0, folder.size() - 1);

    EXPECT_TRUE(FolderExists(bare));
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FolderExists("  " + bare + "  ")) << "blanks around an existing folder";
    EXPECT_FALSE(FolderExists(file));
    EXPECT_FALSE(FolderExists(tree_.path() + "missing"));

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(bare));
    EXPECT_FALSE(FileExists(folder));
    EXPECT_FALSE(FileExists(tree_.path() + "missing.eml"));

    EXPECT_EQ(GetPathAttributes(tree_.path() + "missing.eml"), kInvalidAttributes);
    EXPECT_EQ(GetPathAttributes(tree_.path() + "missing\\deeper"), kInvalidAttributes);
    EXPECT_TRUE(GetPathAttributes(bare) & kAttrDirectory);
}

TEST_F(Listing, IdentityFollowsTheFileNotThePath) {
    std::string a = tree_.File("a.eml");
    std::string b = tree_.File("b.eml");
    std::string link = tree_.path() + "link.eml";
    ASSERT_TRUE(CreateHardLinkW(W(WideFromUtf8(link)), W(WideFromUtf8(a)), nullptr));

    std::optional<FileIdentity> ia = IdentityOf(a);
    ASSERT_TRUE(ia.has_value());
    EXPECT_EQ(IdentityOf(link), ia);
    EXPECT_NE(IdentityOf(b), ia);
    EXPECT_NE(IdentityOf(tree_.path()), ia) << "folders open too";
    EXPECT_TRUE(IdentityOf(tree_.path()).has_value());
    EXPECT_FALSE(IdentityOf(tree_.path() + "missing").has_value());
}

}  // namespace
}  // namespace fs::win32::testing
