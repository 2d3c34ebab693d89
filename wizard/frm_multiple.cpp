#include "wizard/frm_multiple.h"

#include "fs/path_forms.h"
#include "fs/text.h"
#include "wizard/help_site.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace wizard {
namespace {

constexpr char kSeparator = fs::kPathSeparator;

}  // namespace

frmMultiple::frmMultiple(Wizard& app) : app_(app) {
    Caption = "Multiple Folder Conversion Mode";
    lblTitle.Caption = "Multiple Folder Conversion";
    lblSubtitle.Caption = "Convert one by one all folders to respective Outlook .pst files";
    Label3.Caption =
        "Select top folder whose sub-folders hold .eml/.emlx files, mbox files or Maildirs";
    CmdAddFolder.Caption = "Select...";
    lblSelectRootFolder.Caption = kHelpLinkText;
    lblSelectRootFolder.ToolTipText = kHelpLinkTip;
    Frame1.Caption = " Select Folders";
    chkSelectAll.Caption = "Check All";
    Label1.Caption = "Output Folder:";
    txtOutputFolder.Locked = true;
    cmdChange.Caption = "Change...";
    cmdBack.Caption = "< Bac&k";
    CmdNext.Caption = "&Next >";
    Form_Load();
}

void frmMultiple::Form_Load() {
    txtOutputFolder.Text = app_.shell().SpecialFolderPath(ui::SpecialFolder::Desktop);
    chkSelectAll.Value = false;
    chkSelectAll.Enabled = false;
}

void frmMultiple::CmdAddFolder_Click() {
    auto picked = app_.shell().BrowseForFolder(kPromptSource);
    if (!picked || picked->empty()) return;
    std::string root = *picked;
    if (!fs::EndsWith(root, "/") && !fs::EndsWith(root, "\\")) root += kSeparator;
    auto subfolders = app_.shell().ListSubfolders(root);

    lv.Items.clear();
    for (const auto& sub : subfolders) {
        // The page stays responsive while a large root is listed.
        app_.shell().Yield();
        ui::ListItem row;
        row.Text = sub.name;
        row.Icon = kIconUser;
        row.SubItem = root + sub.name;
        row.SubItemIcon = kIconFolder;
        row.SubItemToolTip = row.SubItem;
        lv.Items.push_back(std::move(row));
    }
    AltLVBackground(lv, kRowColorOne, kRowColorTwo);

    // Clearing a checked box acts as a click on it.
    if (chkSelectAll.Value) {
        chkSelectAll.Value = false;
        chkSelectAll_Click();
    }
    chkSelectAll.Enabled = true;
}

void frmMultiple::chkSelectAll_Click() {
    const bool check = chkSelectAll.Value;
    // The caption changes inside the walk: with no rows it keeps its text.
    for (size_t i = 0; i < lv.Items.size(); ++i) {
        app_.shell().Yield();
        if (i >= lv.Items.size()) break;  // a handler run by the yield replaced the rows
        lv.Items[i].Checked = check;
        chkSelectAll.Caption = check ? "Uncheck All" : "Check All";
    }
}

void frmMultiple::cmdChange_Click() {
    auto picked = app_.shell().BrowseForFolder(kPromptOutput, txtOutputFolder.Text);
    if (picked && !picked->empty()) txtOutputFolder.Text = *picked;
}

void frmMultiple::cmdBack_Click() {
    app_.BackToStart();
}

void frmMultiple::CmdNext_Click() {
    bool anyChecked = false;
    for (size_t i = 0; i < lv.Items.size() && !anyChecked; ++i) {
        app_.shell().Yield();
        anyChecked = i < lv.Items.size() && lv.Items[i].Checked;
    }
    if (anyChecked) {
        app_.RunStatusWindow(this);
        return;
    }
    app_.shell().MessageBox("No Folders Selected !\r\nPlease Select alteast one folder to convert.",
                            "Select Folder(s) to Convert", ui::MsgBoxStyle::InformationOk);
}

void frmMultiple::lblSelectRootFolder_Click() {
    app_.OpenHelp(kHelpSelectRootFolder);
}

void frmMultiple::ToggleCheck(size_t row) {
    if (row < lv.Items.size()) lv.Items[row].Checked = !lv.Items[row].Checked;
}

void frmMultiple::Form_Unload() {
    app_.CloseMultiple();
}

void AltLVBackground(ui::ListView& lv, uint32_t one, uint32_t two) {
    if (!lv.ReportView || lv.Items.empty()) return;
    lv.Background = ui::RowStripes{lv.RowHeight, one, two};
}

}  // namespace wizard
