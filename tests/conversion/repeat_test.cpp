// Converting into a data file that already holds some of the source: what is there is not stored
// again, what is new is added.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/conversion/conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

Subjects Sorted(Subjects s) {
    std::sort(s.begin(), s.end());
    return s;
}

TEST_F(FolderMappingTest, ARepeatedRunStoresOnlyWhatTheFileDoesNotHoldYet) {
    src.file("Inbox/1.eml", Message("one"));
    src.file("Inbox/2.eml", Message("two"));
    // The same bytes in another folder are another message of that folder.
    src.file("Work/1-copy.eml", Message("one"));
    Tree first = Convert(src.str());
    EXPECT_EQ(Sorted(first["Inbox"]), (Subjects{"one", "two"}));
    EXPECT_EQ(first["Work"], Subjects{"one"});

    // Everything is there already: nothing stored, and the run is complete.
    window.reset();
    Tree again = Convert(src.str());
    EXPECT_EQ(again, first);
    EXPECT_EQ(window->report.Converted(), 0);
    EXPECT_EQ(window->report.AlreadyStored(), 3);
    EXPECT_TRUE(window->report.Complete());
    EXPECT_NE(shell.boxes().back().text.find("3 message file(s) already in the data file"),
              std::string::npos)
        << shell.boxes().back().text;

    // A new file and a changed one (other bytes, same name) are added; the rest is not.
    src.file("Inbox/3.eml", Message("three"));
    src.file("Inbox/2.eml", Message("two", "X-Edited: yes\r\n"));
    window.reset();
    Tree third = Convert(src.str());
    EXPECT_EQ(Sorted(third["Inbox"]), (Subjects{"one", "three", "two", "two"}));
    EXPECT_EQ(window->report.Converted(), 2);
    EXPECT_EQ(window->report.AlreadyStored(), 2);

    // Asked to keep duplicates, every file is stored again.
    struct KeepingJob : TestJob {
        bool KeepsDuplicates() const override { return true; }
    } keeping;
    keeping.source = src.str();
    job::frmMigateAll keepWindow(keeping, shell, *factory, clock);
    keepWindow.Show();
    shell.AnswerSave(Pst("map.pst"));
    keepWindow.CmdStartConversion_Click();
    EXPECT_EQ(keepWindow.report.Converted(), 4);
    EXPECT_EQ(ReadTree(Pst("map.pst"))["Inbox"].size(), 7u);
}

}  // namespace
}  // namespace conversiontest
