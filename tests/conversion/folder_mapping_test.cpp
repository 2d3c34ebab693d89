// A folder name holding a backslash (POSIX only) is in posix/backslash_name_test.cpp.
#include "conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

TEST_F(FolderMappingTest, RebuildsTheTreeWithParentsBeforeChildren) {
    src.file("Work/Old/a.eml", Message("old"));
    src.file("Work/b.eml", Message("work"));
    src.file("top.eml", Message("top"));
    Tree tree = Convert(src.str());
    EXPECT_EQ(window->run.FolderList, (Subjects{"\\Work", "\\Work\\Old"}));
    EXPECT_EQ(tree["Work"], Subjects{"work"});
    EXPECT_EQ(tree["Work\\Old"], Subjects{"old"});
    EXPECT_EQ(tree[""], Subjects{"top"});
}

TEST_F(FolderMappingTest, InboxAndSentLandInTheStoresOwnFoldersInBothRootForms) {
    src.file("Inbox/i.eml", Message("in"));
    src.file("Inbox/x/ix.eml", Message("in-x"));
    src.file("Sent/s.eml", Message("sent"));
    src.file("Sent/A/sa.eml", Message("sent-a"));
    for (std::string root : {src.str(), src.str() + fs::kPathSeparator}) {
        SCOPED_TRACE(root);
        std::filesystem::remove(out / "map.pst");
        window.reset();
        Tree tree = Convert(root);
        EXPECT_EQ(tree["Inbox"], Subjects{"in"});
        EXPECT_EQ(tree["Inbox\\x"], Subjects{"in-x"});
        EXPECT_EQ(tree["Sent Items"], Subjects{"sent"});
        EXPECT_EQ(tree["Sent Items\\A"], Subjects{"sent-a"});
        EXPECT_FALSE(tree.count("Sent"));
        EXPECT_EQ(window->report.Failed(), 0);
    }
}

TEST_F(FolderMappingTest, MessagesInFoldersTheFolderPhasePassesOverAreStillStored) {
    src.file("Work/Sent/ws.eml", Message("work-sent"));
    src.file("Notebook/n.eml", Message("note"));
    src.file("Arch!2019/old.eml", Message("arch"));
    src.file("Emailed Contacts/e.eml", Message("contacts"));
    Tree tree = Convert(src.str());
    // Special names are not made in advance, but the messages make their folders.
    EXPECT_EQ(tree["Work\\Sent"], Subjects{"work-sent"});
    EXPECT_EQ(tree["Notebook"], Subjects{"note"});
    EXPECT_EQ(tree["Arch"], Subjects{"arch"});
    EXPECT_EQ(tree["Emailed Contacts"], Subjects{"contacts"});
    EXPECT_FALSE(tree.count("Arch!2019"));
    EXPECT_EQ(window->report.Converted(), 4);
}

TEST_F(FolderMappingTest, AnEmptyTreeCreatesNoFolderAndKnownFoldersAreNotDoubled) {
    src.file("a.eml", Message("a"));
    Tree first = Convert(src.str());
    size_t folders = first.size();
    EXPECT_TRUE(window->run.FolderList.empty() || window->run.FolderList == Subjects{""});

    // Converting into the same file again adds no second Projects (and no second copy of a
    // message it holds).
    src.file("Projects/p.eml", Message("p"));
    shell.AnswerSave(Pst("map.pst"));
    window->CmdStartConversion_Click();
    shell.AnswerSave(Pst("map.pst"));
    window->CmdStartConversion_Click();
    Tree again = ReadTree(Pst("map.pst"));
    EXPECT_EQ(again.size(), folders + 1);
    EXPECT_EQ(again["Projects"], (Subjects{"p"}));
    EXPECT_EQ(again[""], (Subjects{"a"}));
}

}  // namespace
}  // namespace conversiontest
