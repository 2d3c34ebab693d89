// The wizard's pages driven through the scripted shell: routing, the exit question, the
// single-folder choice and the multiple-folder list.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/migration.h"
#include "fs/path_forms.h"
#include "store/pst_session.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"
#include "wizard/wizard.h"

namespace {

using ui::MsgBoxResult;
using wizard::Wizard;

struct Fixture : ::testing::Test {
    ui::ScriptedShell shell;
    store::PstSessionFactory factory;
    Wizard app{shell, factory, wizard::HelpSite("/opt/help")};
    void SetUp() override { app.Start(); }
};

using StartPage = Fixture;

TEST_F(StartPage, BoldCaptionFollowsTheSelectedOption) {
    auto& s = app.start();
    EXPECT_TRUE(s.OptSingle.Value);
    EXPECT_EQ(s.OptSingle.FontWeight, 700);
    EXPECT_EQ(s.OptMultiple.FontWeight, 400);
    EXPECT_TRUE(app.SingleMode());

    s.OptMultiple.Value = true;
    s.OptMultiple_Click();
    EXPECT_FALSE(s.OptSingle.Value);
    EXPECT_EQ(s.OptSingle.FontWeight, 400);
    EXPECT_EQ(s.OptMultiple.FontWeight, 700);
    EXPECT_FALSE(app.SingleMode());

    s.OptSingle_Click();
    EXPECT_EQ(s.OptSingle.FontWeight, 700);
    EXPECT_EQ(s.OptMultiple.FontWeight, 400);
}

TEST_F(StartPage, NoToTheExitQuestionKeepsRunningYesEndsEvenWithHiddenPages) {
    shell.Answer(MsgBoxResult::No);
    EXPECT_TRUE(app.start().Form_Unload());  // cancelled
    EXPECT_EQ(shell.endProcessCalls(), 0);
    EXPECT_TRUE(app.start().Visible);
    ASSERT_EQ(shell.boxes().size(), 1u);
    EXPECT_EQ(shell.boxes()[0].text, "Are you sure you want to exit now?");
    EXPECT_EQ(shell.boxes()[0].style, ui::MsgBoxStyle::QuestionYesNo);

    // A multiple page loaded and hidden behind the start page does not keep the program alive.
    app.start().OptMultiple_Click();
    app.start().CmdNext_Click();
    app.multiple()->cmdBack_Click();
    ASSERT_NE(app.multiple(), nullptr);
    shell.Answer(MsgBoxResult::Yes);
    EXPECT_FALSE(app.start().Form_Unload());
    EXPECT_EQ(shell.endProcessCalls(), 1);
}

TEST_F(StartPage, HelpLinksOpenTheLocalManualAtTheirSections) {
    app.start().CmdHelp_Click();
    app.start().lblSingleHelp_Click();
    app.start().lblMultipleHelp_Click();
    EXPECT_EQ(shell.urls(),
              (std::vector<std::string>{"file:///opt/help/index.html",
                                        "file:///opt/help/index.html#single-folder",
                                        "file:///opt/help/index.html#multiple-folders"}));

    // A manual installed on Windows: drive and network folders, blanks and non-ASCII names.
    EXPECT_EQ(wizard::FileUrl("C:/Program Files/eml2pst/help/index.html"),
              "file:///C:/Program%20Files/eml2pst/help/index.html");
    EXPECT_EQ(wizard::FileUrl("//server/share/z\u00F6/index.html"),
              "file://server/share/z%C3%B6/index.html");
    if (fs::kPathSeparator == '\\') {
        EXPECT_EQ(wizard::HelpSite("C:\\Programs\\help\\").Address("/h/eml-to-pst/#select-folder"),
                  "file:///C:/Programs/help/index.html#select-folder");
    }

    // No browser: one box names the page to open by hand. No manual: a box says so, and no
    // broken address goes to the browser.
    shell.opensUrls = false;
    app.start().lblSingleHelp_Click();
    ASSERT_EQ(shell.boxes().size(), 1u);
    EXPECT_EQ(shell.boxes()[0].title, "Help");
    EXPECT_NE(shell.boxes()[0].text.find("\r\n/opt/help" + std::string(1, fs::kPathSeparator) +
                                         "index.html#single-folder"),
              std::string::npos)
        << shell.boxes()[0].text;
    ui::ScriptedShell bare;
    Wizard noHelp(bare, factory);
    noHelp.start().CmdHelp_Click();
    EXPECT_TRUE(bare.urls().empty());
    ASSERT_EQ(bare.boxes().size(), 1u);

    // The store failure box names the manual's page by its full location.
    EXPECT_EQ(engine::Migration::SessionFailureLines(app).back(),
              "file:///opt/help/store-errors.html");
    EXPECT_EQ(engine::Migration::SessionFailureLines(noHelp).back(), "docs/help/store-errors.html");
}

TEST(HelpSite, AddressesEncodeBlanksAndNonAsciiAndNameOtherPages) {
    wizard::HelpSite site("/srv/my help/\xC3\xA9t\xC3\xA9/");
    EXPECT_EQ(site.Address("/h/eml-to-pst/#select-folder"),
              "file:///srv/my%20help/%C3%A9t%C3%A9/index.html#select-folder");
    EXPECT_EQ(site.Address("/h/store-errors.html"),
              "file:///srv/my%20help/%C3%A9t%C3%A9/store-errors.html");
    EXPECT_EQ(site.Address(""), "");
}

using SinglePage = Fixture;

TEST_F(SinglePage, ModalOverADisabledStartPageAndDiscardedWhenClosed) {
    bool startEnabledWhileModal = true;
    shell.whileModal = [&](ui::Window& w) {
        startEnabledWhileModal = app.start().Enabled;
        auto* page = app.single();
        ASSERT_EQ(&w, page);
        shell.AnswerFolder("/data/mail");
        page->CmdAddFolder_Click();
        page->Form_Unload();
    };
    app.start().CmdNext_Click();
    EXPECT_FALSE(startEnabledWhileModal);
    EXPECT_TRUE(app.start().Enabled);
    ASSERT_EQ(shell.modals().size(), 1u);
    EXPECT_EQ(shell.modals()[0].second, &app.start());
    EXPECT_EQ(app.single(), nullptr);

    // The next visit starts empty with Next disabled.
    shell.whileModal = [&](ui::Window&) {
        EXPECT_EQ(app.single()->txtSourceMailbox.Text, "");
        EXPECT_FALSE(app.single()->CmdNext.Enabled);
        app.single()->Form_Unload();
    };
    app.start().CmdNext_Click();
}

TEST_F(SinglePage, NextStaysDisabledUntilAFolderAndCancelKeepsThePreviousChoice) {
    shell.whileModal = [&](ui::Window&) {
        auto* page = app.single();
        page->CmdNext_Click();  // nothing chosen: no status window
        EXPECT_EQ(shell.modals().size(), 1u);

        page->CmdAddFolder_Click();  // cancelled
        EXPECT_FALSE(page->CmdNext.Enabled);
        EXPECT_EQ(page->txtSourceMailbox.Text, "");

        shell.AnswerFolder("/data/first");
        page->CmdAddFolder_Click();
        shell.AnswerFolder(std::nullopt);
        page->CmdAddFolder_Click();
        EXPECT_EQ(page->txtSourceMailbox.Text, "/data/first");
        EXPECT_TRUE(page->CmdNext.Enabled);

        // A root comes back as picked, its separator kept and nothing added.
        shell.AnswerFolder("/");
        page->CmdAddFolder_Click();
        EXPECT_EQ(page->txtSourceMailbox.Text, "/");
        shell.AnswerFolder("D:\\");
        page->CmdAddFolder_Click();
        EXPECT_EQ(page->txtSourceMailbox.Text, "D:\\");
        EXPECT_EQ(app.SourceFolder(), "D:\\");
        page->Form_Unload();
    };
    app.start().CmdNext_Click();
    EXPECT_EQ(shell.folderPrompts(), std::vector<std::string>(5, "Choose Source Folder..."));
}

TEST_F(SinglePage, StatusWindowOpensWithoutOwnerAndTheFolderSurvivesIt) {
    testsupport::TempDir dir;
    dir.file("mail/a.eml", "Subject: a\r\n\r\nbody\r\n");
    shell.whileModal = [&](ui::Window& w) {
        if (&w == app.single()) {
            shell.AnswerFolder(fs::Utf8FromPath(dir.path() / "mail"));
            app.single()->CmdAddFolder_Click();
            app.single()->CmdNext_Click();
            EXPECT_EQ(app.single()->txtSourceMailbox.Text, fs::Utf8FromPath(dir.path() / "mail"));
            app.single()->CmdNext_Click();  // again: the same status window opens again
            app.single()->Form_Unload();
            return;
        }
        auto& status = *app.status();
        EXPECT_EQ(&w, &status);
        EXPECT_TRUE(status.form.IsOpen());
        EXPECT_EQ(status.form.controls.lblCount1.Caption, "Conversion Not Started Yet...");
    };
    app.start().CmdNext_Click();
    ASSERT_EQ(shell.modals().size(), 3u);
    EXPECT_EQ(shell.modals()[1].first, app.status());
    EXPECT_EQ(shell.modals()[1].second, nullptr);
    EXPECT_EQ(shell.modals()[2].first, app.status());
    EXPECT_FALSE(app.status()->form.IsOpen());
}

}  // namespace
