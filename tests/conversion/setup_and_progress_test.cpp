#include "conversion_fixture.h"

namespace conversiontest {
namespace {

TEST_F(ConversionTest, SingleModeProposesAStampedNameAndNamesTheStoreAfterTheFolder) {
    auto inbox = src.dir("Inbox");
    src.file("Inbox/a.eml", Message("first"));
    job.source = fs::Utf8FromPath(inbox);
    shell.AnswerSave(Pst("chosen.pst"));
    Window().CmdStartConversion_Click();

    ASSERT_EQ(shell.saveDialogs().size(), 1u);
    EXPECT_EQ(shell.saveDialogs()[0].proposedName, "Inbox6.12.26 7.5.09.pst");
    EXPECT_EQ(shell.saveDialogs()[0].filter, "Outlook Data File(s) (*.pst)|*.pst");
    EXPECT_EQ(window->run.StoreDisplayName, "Inbox : Created - 6.12.26 7.5.09");
    auto s = pst::messaging::MessageStore::Open(out / "chosen.pst");
    EXPECT_EQ(s->DisplayName(), "Inbox : Created - 6.12.26 7.5.09");
    s->Close();
    EXPECT_EQ(ReadTree(Pst("chosen.pst"))[""], (std::vector<std::string>{"first"}));
    EXPECT_EQ(window->controls.lblCount1.Caption,
              "Migrating 1 items from " + fs::Utf8FromPath(inbox) + fs::kPathSeparator);
    ASSERT_FALSE(shell.boxes().empty());
    EXPECT_EQ(shell.boxes().back().title, "Completed");
    EXPECT_EQ(shell.boxes().back().text,
              "EML Messages Converted Successfully.\r\n"
              "Open Converted PST file in Outlook to View Converted Messages.");
    // After a normal end: Start offered again, Skip and Stop at rest.
    EXPECT_TRUE(window->controls.CmdStartConversion.Enabled);
    EXPECT_FALSE(window->controls.CmdSkip.Enabled);
    EXPECT_FALSE(window->controls.CmdStopMigration.Visible);
}

TEST_F(ConversionTest, CancellingTheSaveDialogCreatesNothingAndClosesTheWindow) {
    src.file("a.eml", Message("x"));
    job.source = src.str();
    Window().CmdStartConversion_Click();  // no scripted answer: the dialog is cancelled
    EXPECT_FALSE(window->IsOpen());
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    EXPECT_EQ(shell.boxes().back().title, "Completed");
}

TEST_F(ConversionTest, MultipleModeTrimsTheOutputFolderAndNamesFilesAfterRows) {
    src.file("Work/a.eml", Message("w1"));
    src.file("Home/b.eml", Message("h1"));
    job.single = false;
    job.output = "  " + out.str() + "  ";
    job.rows = {{true, "Work", fs::Utf8FromPath(src.path() / "Work")},
                {false, "Skipped", fs::Utf8FromPath(src.path() / "Skipped")},
                {true, "Home", fs::Utf8FromPath(src.path() / "Home")}};
    Window().CmdStartConversion_Click();
    EXPECT_TRUE(std::filesystem::exists(out / "Work.pst"));
    EXPECT_TRUE(std::filesystem::exists(out / "Home.pst"));
    EXPECT_FALSE(std::filesystem::exists(out / "Skipped.pst"));
    EXPECT_TRUE(job.rows[0].marked);
    EXPECT_FALSE(job.rows[1].marked);
    EXPECT_EQ(window->controls.Caption, "Converting 3 of 3 Folders");
    EXPECT_EQ(ReadTree(Pst("Work.pst"))[""], (std::vector<std::string>{"w1"}));
    EXPECT_EQ(shell.boxes().back().text,
              "All Folders Converted Successfully.\r\n"
              "Open Converted PST file(s) in Outlook to View Individual files.");
}

TEST_F(ConversionTest, ARowWithoutFilesIsMarkedCountedAndPassedOver) {
    src.dir("Empty");
    src.file("Full/a.eml", Message("a"));
    job.single = false;
    job.output = out.str();
    job.rows = {{true, "Full", fs::Utf8FromPath(src.path() / "Full")},
                {true, "Empty", fs::Utf8FromPath(src.path() / "Empty")}};
    Window().CmdStartConversion_Click();
    EXPECT_TRUE(job.rows[1].marked);
    EXPECT_EQ(window->controls.lblCount1.Caption,
              "Converting 0 items from " + fs::Utf8FromPath(src.path() / "Empty"));
    EXPECT_EQ(window->controls.Caption, "Converting 1 of 2 Folders");
    EXPECT_FALSE(std::filesystem::exists(out / "Empty.pst"));
    // The last checked row queued nothing: Start stays unavailable.
    EXPECT_FALSE(window->controls.CmdStartConversion.Enabled);
}

TEST_F(ConversionTest, OnlyMessageFilesAreImportedButEveryFileCountsForProgress) {
    src.file("A.EML", Message("upper"));
    src.file("b.Emlx", Emlx(Message("emlx")));
    src.file("EML~1", Message("short"));
    src.file("a.eml.bak", Message("backup"));
    src.file("notes.txt", "not a message");
    job.source = src.str();
    shell.AnswerSave(Pst("sel.pst"));
    std::vector<std::string> frames;
    shell.EveryYield([&] {
        if (window && (frames.empty() || frames.back() != window->controls.FrameConversion.Caption))
            frames.push_back(window->controls.FrameConversion.Caption);
    });
    Window().CmdStartConversion_Click();
    auto subjects = ReadTree(Pst("sel.pst"))[""];
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"emlx", "short", "upper"}));
    EXPECT_EQ(window->controls.FrameConversion.Caption,
              "Reading Messages && Email Metadata - (5 of 5) File(s)");
    EXPECT_FLOAT_EQ(window->controls.ProgressBar1.Value, 100.0f);
    EXPECT_EQ(window->controls.lblProgress.Caption, "100% Complete");
    // The counter only ever climbs through the queue: 1 of 5, 2 of 5, ...
    int last = 0;
    for (const auto& f : frames) {
        if (f == " Details ") continue;
        int k = 0;
        ASSERT_EQ(
            std::sscanf(f.c_str(), "Reading Messages && Email Metadata - (%d of 5) File(s)", &k), 1)
            << f;
        EXPECT_GT(k, last);
        last = k;
    }
    EXPECT_GT(last, 0);
}

}  // namespace
}  // namespace conversiontest
