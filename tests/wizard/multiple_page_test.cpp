// The multiple-folder page: listing a root, select-all, output folder, back and forward, and a
// real two-mailbox job run from the page through the status window.
#include <gtest/gtest.h>

#include <filesystem>

#include "fs/path_forms.h"
#include "store/pst_session.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"
#include "wizard/wizard.h"

namespace {

using wizard::Wizard;

struct MultiplePage : ::testing::Test {
    ui::ScriptedShell shell;
    store::PstSessionFactory factory;
    Wizard app{shell, factory};
    wizard::frmMultiple* page = nullptr;

    void SetUp() override {
        shell.desktop = "/home/ann/Desktop";
        app.Start();
        app.start().OptMultiple.Value = true;
        app.start().OptMultiple_Click();
        app.start().CmdNext_Click();
        page = app.multiple();
        ASSERT_NE(page, nullptr);
    }
    void List(const std::string& root, std::vector<ui::FolderEntry> subs) {
        // The page lists the root with its separator.
        shell.ScriptSubfolders(root.back() == fs::kPathSeparator ? root : root + fs::kPathSeparator,
                               std::move(subs));
        shell.AnswerFolder(root);
        page->CmdAddFolder_Click();
    }
    void ToggleAll(bool value) {
        page->chkSelectAll.Value = value;
        page->chkSelectAll_Click();
    }
};

TEST_F(MultiplePage, OpensModelessWithTheStartPageHiddenAndTheDesktopAsOutput) {
    EXPECT_TRUE(page->Visible);
    EXPECT_FALSE(app.start().Visible);
    EXPECT_TRUE(shell.modals().empty());
    EXPECT_EQ(page->txtOutputFolder.Text, "/home/ann/Desktop");
    EXPECT_FALSE(page->chkSelectAll.Enabled);
    EXPECT_TRUE(page->lv.Items.empty());
}

TEST(HelpLinks, TheFolderPagesOpenTheirSections) {
    ui::ScriptedShell shell;
    store::PstSessionFactory factory;
    Wizard app{shell, factory, wizard::HelpSite("/h")};
    app.Start();
    shell.whileModal = [&](ui::Window&) {
        app.single()->lblSingleMailbox_Click();
        app.single()->Form_Unload();
    };
    app.start().CmdNext_Click();
    app.start().OptMultiple_Click();
    app.start().CmdNext_Click();
    app.multiple()->lblSelectRootFolder_Click();
    EXPECT_EQ(shell.urls(), (std::vector<std::string>{"file:///h/index.html#select-folder",
                                                      "file:///h/index.html#select-root-folder"}));
}

TEST_F(MultiplePage, RowsKeepEnumerationOrderAndRootsGetOneSeparator) {
    const std::string S(1, fs::kPathSeparator);
    List(S + "mail", {{"zed", S + "mail" + S + "zed"}, {"amy", S + "mail" + S + "amy"}});
    ASSERT_EQ(page->lv.Items.size(), 2u);
    EXPECT_EQ(page->lv.Items[0].Text, "zed");
    EXPECT_EQ(page->lv.Items[0].SubItem, S + "mail" + S + "zed");
    EXPECT_EQ(page->lv.Items[0].SubItemToolTip, S + "mail" + S + "zed");
    EXPECT_EQ(page->lv.Items[0].Icon, wizard::kIconUser);
    EXPECT_EQ(page->lv.Items[0].SubItemIcon, wizard::kIconFolder);
    EXPECT_EQ(page->lv.Items[1].SubItem, S + "mail" + S + "amy");
    EXPECT_TRUE(page->chkSelectAll.Enabled);

    // A root that already ends in its separator gets no second one.
    List(S, {{"srv", S + "srv"}});
    ASSERT_EQ(page->lv.Items.size(), 1u);
    EXPECT_EQ(page->lv.Items[0].SubItem, S + "srv");
}

TEST_F(MultiplePage, ListingARealFolderAndStripingTheRows) {
    testsupport::TempDir dir;
    dir.dir("root/one");
    dir.dir("root/two");
    dir.file("root/loose.eml");
    shell.AnswerFolder(fs::Utf8FromPath(dir / "root"));
    page->CmdAddFolder_Click();
    ASSERT_EQ(page->lv.Items.size(), 2u);  // the loose file is no row
    ASSERT_TRUE(page->lv.Background.has_value());
    EXPECT_EQ(page->lv.Background->RowHeight, page->lv.RowHeight);
    EXPECT_EQ(page->lv.Background->ColorOne, ui::Rgb(255, 255, 255));
    EXPECT_EQ(page->lv.Background->ColorTwo, ui::Rgb(255, 255, 192));

    ui::ListView empty;
    wizard::AltLVBackground(empty, 1, 2);
    EXPECT_FALSE(empty.Background.has_value());
}

TEST_F(MultiplePage, SelectAllCaptionFollowsTheWalkWithAndWithoutRows) {
    List("/empty", {});
    EXPECT_TRUE(page->chkSelectAll.Enabled);
    ToggleAll(true);
    EXPECT_EQ(page->chkSelectAll.Caption, "Check All");  // no rows: the caption stays

    List("/mail", {{"a", "/mail/a"}, {"b", "/mail/b"}});
    ASSERT_EQ(page->lv.Items.size(), 2u);
    ToggleAll(true);
    EXPECT_EQ(page->chkSelectAll.Caption, "Uncheck All");
    EXPECT_TRUE(page->lv.Items[0].Checked && page->lv.Items[1].Checked);
    ToggleAll(false);
    EXPECT_EQ(page->chkSelectAll.Caption, "Check All");
    EXPECT_FALSE(page->lv.Items[0].Checked || page->lv.Items[1].Checked);

    // Space on a row flips that row only; the box and its caption stay as they are.
    ToggleAll(true);
    page->ToggleCheck(1);
    EXPECT_TRUE(page->lv.Items[0].Checked);
    EXPECT_FALSE(page->lv.Items[1].Checked);
    EXPECT_EQ(page->chkSelectAll.Caption, "Uncheck All");
    page->ToggleCheck(1);
    page->ToggleCheck(7);  // no such row: nothing happens
    EXPECT_TRUE(page->lv.Items[1].Checked);

    // A new listing clears a checked box, and its caption comes back.
    List("/other", {{"c", "/other/c"}});
    ASSERT_EQ(page->lv.Items.size(), 1u);
    EXPECT_FALSE(page->chkSelectAll.Value);
    EXPECT_EQ(page->chkSelectAll.Caption, "Check All");
    EXPECT_FALSE(page->lv.Items[0].Checked);
}

TEST_F(MultiplePage, CancelledPickersKeepListAndOutputFolder) {
    List("/mail", {{"a", "/mail/a"}});
    ASSERT_EQ(page->lv.Items.size(), 1u);
    page->lv.Items[0].Checked = true;
    page->CmdAddFolder_Click();  // cancelled
    page->cmdChange_Click();     // cancelled
    ASSERT_EQ(page->lv.Items.size(), 1u);
    EXPECT_TRUE(page->lv.Items[0].Checked);
    EXPECT_EQ(page->txtOutputFolder.Text, "/home/ann/Desktop");
    shell.AnswerFolder("/out/");
    page->cmdChange_Click();
    EXPECT_EQ(page->txtOutputFolder.Text, "/out/");  // as picked, nothing removed or added
    EXPECT_EQ(shell.folderPrompts().back(), "Choose Output Folder...");
}

TEST_F(MultiplePage, BackAndForwardKeepListChecksAndOutputFolder) {
    List("/mail", {{"a", "/mail/a"}, {"b", "/mail/b"}});
    ASSERT_EQ(page->lv.Items.size(), 2u);
    page->lv.Items[1].Checked = true;
    shell.AnswerFolder("/out");
    page->cmdChange_Click();

    page->cmdBack_Click();
    EXPECT_TRUE(app.start().Visible);
    EXPECT_FALSE(page->Visible);
    // Switching to single mode while the page is hidden changes what the job sees.
    app.start().OptSingle_Click();
    EXPECT_TRUE(app.SingleMode());
    app.start().OptMultiple_Click();
    app.start().CmdNext_Click();

    EXPECT_EQ(app.multiple(), page);
    EXPECT_TRUE(page->Visible);
    EXPECT_FALSE(app.start().Visible);
    ASSERT_EQ(page->lv.Items.size(), 2u);
    EXPECT_FALSE(page->lv.Items[0].Checked);
    EXPECT_TRUE(page->lv.Items[1].Checked);
    EXPECT_EQ(page->txtOutputFolder.Text, "/out");
    EXPECT_EQ(app.OutputFolder(), "/out");
}

TEST_F(MultiplePage, NextWithoutACheckedRowExplainsAndOpensNothing) {
    page->CmdNext_Click();
    List("/mail", {{"a", "/mail/a"}, {"b", "/mail/b"}});
    page->CmdNext_Click();
    ASSERT_EQ(shell.boxes().size(), 2u);
    ASSERT_EQ(page->lv.Items.size(), 2u);
    EXPECT_EQ(shell.boxes()[1].title, "Select Folder(s) to Convert");
    EXPECT_EQ(shell.boxes()[1].text,
              "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
    EXPECT_EQ(shell.boxes()[1].style, ui::MsgBoxStyle::InformationOk);
    EXPECT_TRUE(shell.modals().empty());

    page->ToggleCheck(1);  // only the last row, ticked from the keyboard
    page->CmdNext_Click();
    ASSERT_EQ(shell.modals().size(), 1u);
    EXPECT_EQ(shell.modals()[0].first, app.status());
    EXPECT_EQ(shell.modals()[0].second, page);
}

TEST_F(MultiplePage, ClosingThePageDiscardsItAndBringsBackTheStartPage) {
    List("/mail", {{"a", "/mail/a"}});
    page->Form_Unload();
    EXPECT_EQ(app.multiple(), nullptr);
    EXPECT_TRUE(app.start().Visible);
    EXPECT_EQ(app.RowCount(), 0);
    app.start().CmdNext_Click();
    EXPECT_TRUE(app.multiple()->lv.Items.empty());
}

TEST_F(MultiplePage, ConvertsTheCheckedMailboxesIntoTheOutputFolder) {
    testsupport::TempDir dir;
    const std::string message = "From: a@example.org\r\nSubject: hi\r\n\r\nhello\r\n";
    // Mailboxes as mail clients keep them: a Maildir, message files, a Thunderbird account.
    dir.file("root/alice/cur/1.host", message);
    dir.dir("root/alice/new");
    dir.file("root/bob/2.eml", message);
    dir.file("root/carol/Inbox", "From a@example.org Tue Nov  3 10:00:00 2026\n" + message);
    dir.file("root/carol/Inbox.msf", "");
    dir.dir("out");
    shell.AnswerFolder(fs::Utf8FromPath(dir / "root"));
    page->CmdAddFolder_Click();
    ASSERT_EQ(page->lv.Items.size(), 3u);
    shell.AnswerFolder(fs::Utf8FromPath(dir / "out"));
    page->cmdChange_Click();
    for (auto& row : page->lv.Items) row.Checked = row.Text != "bob";

    shell.whileModal = [&](ui::Window&) { app.status()->form.CmdStartConversion_Click(); };
    page->CmdNext_Click();

    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/alice.pst"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/carol.pst"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/bob.pst"));
    ASSERT_FALSE(shell.boxes().empty());
    EXPECT_EQ(shell.boxes().back().title, "Completed");
    EXPECT_EQ(app.status()->form.report.Converted(), 2);
    // The rows the driver worked on are marked; the unchecked one is not.
    for (const auto& row : page->lv.Items) {
        EXPECT_EQ(row.Bold, row.Text != "bob") << row.Text;
        EXPECT_EQ(row.ForeColor, row.Text != "bob" ? ui::Rgb(0, 128, 0) : 0u) << row.Text;
    }
    EXPECT_FALSE(app.status()->Visible);
}

}  // namespace

namespace {

TEST_F(MultiplePage, ClosingTheStatusWindowMidRunEndsTheRunAndReturnsToThePage) {
    testsupport::TempDir dir;
    for (int i = 0; i < 5; ++i)
        dir.file("root/first/" + std::to_string(i) + ".eml", "Subject: x\r\n\r\nx\r\n");
    dir.file("root/second/1.eml", "Subject: y\r\n\r\ny\r\n");
    dir.dir("out");
    const auto in = [&](const char* name) { return fs::Utf8FromPath(dir / name); };
    shell.ScriptSubfolders(in("root") + fs::kPathSeparator,
                           {{"first", in("root/first")}, {"second", in("root/second")}});
    shell.AnswerFolder(in("root"));
    page->CmdAddFolder_Click();
    ASSERT_EQ(page->lv.Items.size(), 2u);
    shell.AnswerFolder(in("out"));
    page->cmdChange_Click();
    ToggleAll(true);

    bool closedWhileRunning = false;
    shell.whileModal = [&](ui::Window&) {
        auto& form = app.status()->form;
        // The close box lands while the first folder's messages are imported.
        shell.EveryYield([&] {
            if (form.Running() && form.IsOpen() && form.run.MessageIndex >= 2) {
                closedWhileRunning = true;
                form.Form_QueryUnload();
            }
        });
        form.CmdStartConversion_Click();
        shell.EveryYield(nullptr);
    };
    page->CmdNext_Click();

    EXPECT_TRUE(closedWhileRunning);
    EXPECT_FALSE(app.status()->Visible);
    EXPECT_FALSE(app.status()->form.IsOpen());
    EXPECT_TRUE(page->lv.Items[0].Bold);
    EXPECT_FALSE(page->lv.Items[1].Bold);  // the closed window ended the run before it
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/second.pst"));
    // The page is usable again: Next opens the status window afresh.
    shell.whileModal = [&](ui::Window&) {
        EXPECT_EQ(app.status()->form.controls.lblCount1.Caption, "Conversion Not Started Yet...");
    };
    page->CmdNext_Click();
    EXPECT_EQ(shell.modals().size(), 2u);
}

}  // namespace
