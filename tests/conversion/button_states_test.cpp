#include "conversion_fixture.h"

namespace conversiontest {
namespace {

struct Buttons {
    bool start, skip, stopVisible, stopEnabled;
    bool operator==(const Buttons&) const = default;
};

Buttons Of(const job::StatusControls& c) {
    return {c.CmdStartConversion.Enabled, c.CmdSkip.Enabled, c.CmdStopMigration.Visible,
            c.CmdStopMigration.Enabled};
}

TEST_F(ConversionTest, ButtonsFollowTheRunFromOpeningToCompletion) {
    src.file("a.eml", Message("a"));
    src.file("b.eml", Message("b"));
    job.source = src.str();
    shell.AnswerSave(Pst("b.pst"));
    Window();
    EXPECT_EQ(Of(window->controls), (Buttons{true, false, false, true}));
    EXPECT_EQ(window->controls.lblCount1.Caption, "Conversion Not Started Yet...");

    bool sawScanning = false, sawConverting = false;
    shell.EveryYield([&] {
        Buttons b = Of(window->controls);
        if (window->run.MessageIndex == 0 && b == Buttons{false, false, false, true})
            sawScanning = true;
        if (window->run.MessageIndex >= 1 && b.skip && b.stopVisible && b.stopEnabled && !b.start)
            sawConverting = true;
    });
    window->CmdStartConversion_Click();
    EXPECT_TRUE(sawScanning);
    EXPECT_TRUE(sawConverting);
    EXPECT_EQ(Of(window->controls), (Buttons{true, false, false, false}));
}

TEST_F(ConversionTest, AFolderWithoutFilesNeverReachesTheConversion) {
    auto empty = src.dir("Nothing");
    job.source = fs::Utf8FromPath(empty);
    Window().CmdStartConversion_Click();
    EXPECT_TRUE(shell.saveDialogs().empty());
    EXPECT_EQ(window->controls.lblCount1.Caption,
              "Migrating 0 items from " + fs::Utf8FromPath(empty) + fs::kPathSeparator);
    EXPECT_EQ(shell.boxes().back().title, "Completed");
    EXPECT_EQ(Of(window->controls), (Buttons{false, false, false, false}));
}

TEST_F(ConversionTest, ASourceEndingWithASeparatorGivesAnEmptyFolderName) {
    src.file("a.eml", Message("a"));
    job.source = src.str() + fs::kPathSeparator;
    Window().CmdStartConversion_Click();  // the dialog is cancelled
    ASSERT_EQ(shell.saveDialogs().size(), 1u);
    EXPECT_EQ(shell.saveDialogs()[0].proposedName, "6.12.26 7.5.09.pst");
}

TEST_F(ConversionTest, ReopeningTheWindowShowsTheDesignTextsAgain) {
    src.file("a.eml", Message("a"));
    job.source = src.str();
    shell.AnswerSave(Pst("r.pst"));
    Window().CmdStartConversion_Click();
    window->Unload();
    window->Show();
    EXPECT_EQ(window->controls.lblCount1.Caption, "Conversion Not Started Yet...");
    EXPECT_EQ(window->controls.lblProgress.Caption, "0% Complete");
    EXPECT_EQ(window->controls.FrameConversion.Caption, " Details ");
    EXPECT_EQ(window->controls.LblCurrentDBX.Caption, "Converting Messages...");
    EXPECT_FALSE(window->controls.CmdSkip.Enabled);
    EXPECT_EQ(window->scan.messages.Count(), 0u);
}

TEST_F(ConversionTest, EveryEndingSaysWhatHappenedAndLeavesTheWindowReadyForTheNext) {
    for (char c = 'a'; c <= 'e'; ++c) src.file(std::string("box/") + c + ".eml", Message({c}));
    src.file("good/g.eml", Message("g"));
    src.dir("empty");
    const std::string box = fs::Utf8FromPath(src.path() / "box");
    std::function<void(job::frmMigateAll&)> atThird;  // done once the third message is under way
    Window();
    shell.EveryYield([&] {
        if (atThird && window->run.MessageIndex == 3) std::exchange(atThird, nullptr)(*window);
    });
    struct Ending {
        std::string what, source, headline;
        std::function<void()> arrange;
    };
    const std::vector<Ending> endings = {
        {"confirmed stop", box, "Conversion stopped.",
         [&] {
             shell.AnswerSave(Pst("stop.pst"));
             shell.Answer(ui::MsgBoxResult::Yes);
             atThird = [](auto& w) { w.CmdStopMigration_Click(); };
         }},
        {"closed mid-run", box, "Conversion stopped.",
         [&] {
             shell.AnswerSave(Pst("close.pst"));
             atThird = [](auto& w) { w.Unload(); };
         }},
        {"cancelled save dialog", box, "Nothing was converted.", [] {}},
        {"no message files", fs::Utf8FromPath(src.path() / "empty"), "Nothing was converted.",
         [] {}},
        {"data file not made", box, "Nothing was converted.",
         [&] { shell.AnswerSave(Pst("missing/x.pst")); }},
    };
    int n = 0;
    for (const auto& e : endings) {
        SCOPED_TRACE(e.what);
        job.source = e.source;
        e.arrange();
        window->Show();
        window->CmdStartConversion_Click();
        EXPECT_EQ(shell.boxes().back().text.substr(0, e.headline.size()), e.headline);

        window->Show();
        EXPECT_EQ(Of(window->controls), (Buttons{true, false, false, true}));
        EXPECT_EQ(window->controls.Caption, "Conversion Status");
        EXPECT_EQ(window->controls.lblCount1.Caption, "Conversion Not Started Yet...");
        EXPECT_EQ(window->controls.FrameConversion.Caption, " Details ");
        job.source = fs::Utf8FromPath(src.path() / "good");
        shell.AnswerSave(Pst("next" + std::to_string(++n) + ".pst"));
        window->CmdStartConversion_Click();
        EXPECT_EQ(shell.boxes().back().text.rfind("EML Messages Converted Successfully.", 0), 0u);
    }
}

}  // namespace
}  // namespace conversiontest
