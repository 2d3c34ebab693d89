#include "conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

class InterruptionTest : public ConversionTest {
  protected:
    // Five messages a.eml .. e.eml in one folder.
    void FiveMessages() {
        for (char c = 'a'; c <= 'e'; ++c)
            src.file(std::string(1, c) + ".eml", Message(std::string(1, c)));
        job.source = src.str();
        shell.AnswerSave(Pst("run.pst"));
    }
    // Clicks `click` on the window once the conversion has imported `after` entries.
    void ClickAfter(int after, std::function<void(job::frmMigateAll&)> click) {
        shell.EveryYield([this, after, click, done = false]() mutable {
            if (!done && window && window->run.MessageIndex == after + 1) {
                done = true;
                click(*window);
            }
        });
    }
    size_t Stored() {
        auto tree = ReadTree(Pst("run.pst"));
        return tree[""].size();
    }
    bool Asked(const std::string& title) const {
        for (const auto& b : shell.boxes())
            if (b.title == title) return true;
        return false;
    }
};

TEST_F(InterruptionTest, SkipAnsweredYesEndsTheFolderAndKeepsWhatWasConverted) {
    FiveMessages();
    ClickAfter(2, [](auto& w) { w.CmdSkip_Click(); });
    shell.Answer(ui::MsgBoxResult::Yes);
    Window().CmdStartConversion_Click();
    EXPECT_EQ(shell.boxes()[0].title, "Confirm Skip");
    EXPECT_EQ(shell.boxes()[0].text, "Do you really want to \"Skip\" conversion of this folder ?");
    EXPECT_EQ(window->controls.lblCount1.Caption, "Checking Next Folder...");
    EXPECT_EQ(window->controls.lblProgress.Caption.rfind("Skipped... at ", 0), 0u);
    EXPECT_EQ(Stored(), 3u);  // the entry being converted when Skip came is finished first
    EXPECT_TRUE(window->controls.CmdStartConversion.Enabled);
}

TEST_F(InterruptionTest, SkipAnsweredNoClearsTheRequestAndGoesOn) {
    FiveMessages();
    ClickAfter(1, [](auto& w) { w.CmdSkip_Click(); });
    shell.Answer(ui::MsgBoxResult::No);
    Window().CmdStartConversion_Click();
    EXPECT_FALSE(window->SkipRequested);
    EXPECT_EQ(Stored(), 5u);
}

TEST_F(InterruptionTest, StopAnsweredYesClosesTheWindowAndCommitsWhatWasConverted) {
    FiveMessages();
    ClickAfter(2, [](auto& w) { w.CmdStopMigration_Click(); });
    shell.Answer(ui::MsgBoxResult::Yes);
    Window().CmdStartConversion_Click();
    EXPECT_EQ(shell.boxes()[0].title, "Confirm Stop");
    EXPECT_EQ(shell.boxes()[0].text,
              "This action will STOP complete conversion process.\r\n"
              "Do you really want to \"STOP\" on-going conversion ?");
    EXPECT_FALSE(window->IsOpen());
    EXPECT_EQ(window->controls.lblCount1.Caption, "Stopped...");
    EXPECT_EQ(Stored(), 3u);  // the file was closed: it opens and holds the converted messages
    EXPECT_EQ(shell.boxes().back().title, "Completed");
}

TEST_F(InterruptionTest, StopAnsweredNoAsksAgainNextTime) {
    FiveMessages();
    int presses = 0;
    shell.EveryYield([&] {
        if (window && window->run.MessageIndex >= 2 && presses < 2 && !window->StopRequested) {
            window->CmdStopMigration_Click();
            ++presses;
        }
    });
    shell.Answer(ui::MsgBoxResult::No);
    shell.Answer(ui::MsgBoxResult::No);
    Window().CmdStartConversion_Click();
    int asked = 0;
    for (const auto& b : shell.boxes()) asked += b.title == "Confirm Stop";
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(Stored(), 5u);
}

TEST_F(InterruptionTest, SkipThenStopClosesAtOnceWithoutAQuestion) {
    FiveMessages();
    ClickAfter(1, [](auto& w) {
        w.CmdSkip_Click();
        w.CmdStopMigration_Click();
    });
    Window().CmdStartConversion_Click();
    EXPECT_FALSE(Asked("Confirm Stop"));
    EXPECT_FALSE(window->IsOpen());
    EXPECT_EQ(Stored(), 2u);
}

TEST_F(InterruptionTest, ClosingTheWindowDuringARunActsAsAStop) {
    FiveMessages();
    ClickAfter(3, [](auto& w) { w.Form_QueryUnload(); });
    Window().CmdStartConversion_Click();
    EXPECT_FALSE(Asked("Confirm Stop"));
    EXPECT_EQ(Stored(), 4u);
}

TEST_F(InterruptionTest, AStopPressedWhileALaterFolderIsScannedIsHonoured) {
    src.file("One/a.eml", Message("a"));
    src.file("Two/b.eml", Message("b"));
    src.file("Two/c.eml", Message("c"));
    job.single = false;
    job.output = out.str();
    job.rows = {{true, "One", fs::Utf8FromPath(src.path() / "One")},
                {true, "Two", fs::Utf8FromPath(src.path() / "Two")}};
    bool pressed = false;
    shell.EveryYield([&] {
        // While the second folder is scanned, its queue is filling.
        if (!pressed && window && window->SourceFolder.find("Two") != std::string::npos &&
            window->scan.messages.Count() == 1) {
            pressed = true;
            window->CmdStopMigration_Click();
        }
    });
    shell.Answer(ui::MsgBoxResult::Yes);
    Window().CmdStartConversion_Click();
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(Asked("Confirm Stop"));
    EXPECT_EQ(ReadTree(Pst("Two.pst"))[""].size(), 1u);
}

// A click lands only while the scan yields: a stop pressed then, in the one-folder mode, is
// still asked about and ends the run before every message is converted.
TEST_F(InterruptionTest, AStopPressedWhileTheFolderIsScannedIsHonoured) {
    FiveMessages();
    bool pressed = false;
    shell.EveryYield([&] {
        if (!pressed && window && window->scan.messages.Count() == 2) {
            pressed = true;
            window->CmdStopMigration_Click();
        }
    });
    shell.Answer(ui::MsgBoxResult::Yes);
    Window().CmdStartConversion_Click();
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(Asked("Confirm Stop"));
    EXPECT_FALSE(window->IsOpen());
    EXPECT_LT(Stored(), 5u);
}

TEST_F(InterruptionTest, StartDuringARunStartsNothing) {
    src.file("One/a.eml", Message("a"));
    src.file("Two/b.eml", Message("b"));
    job.single = false;
    job.output = out.str();
    job.rows = {{true, "One", fs::Utf8FromPath(src.path() / "One")},
                {true, "Two", fs::Utf8FromPath(src.path() / "Two")}};
    int clicks = 0;
    shell.EveryYield([&] {
        if (window && window->Running() && window->controls.CmdStartConversion.Enabled &&
            clicks < 3) {
            ++clicks;
            window->CmdStartConversion_Click();
        }
    });
    Window().CmdStartConversion_Click();
    EXPECT_GT(clicks, 0);
    int completions = 0;
    for (const auto& b : shell.boxes()) completions += b.title == "Completed";
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(ReadTree(Pst("Two.pst"))[""].size(), 1u);
}

}  // namespace
}  // namespace conversiontest
