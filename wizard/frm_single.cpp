#include "wizard/frm_single.h"

#include "wizard/help_site.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace wizard {

frmSingle::frmSingle(Wizard& app) : app_(app) {
    Caption = "Single Folder Conversion Mode";
    lblTitle.Caption = "Single Folder Conversion";
    lblSubtitle.Caption = "Convert single folder of messages to respective Outlook .pst file";
    Label2.Caption = "Make sure, folder you are trying to select is not hidden";
    Label3.Caption = "Select folder having .eml/.emlx files, mbox files or Maildirs";
    lblSingleMailbox.Caption = kHelpLinkText;
    lblSingleMailbox.ToolTipText = kHelpLinkTip;
    txtSourceMailbox.Locked = true;
    CmdAddFolder.Caption = "Select...";
    CmdNext.Caption = "&Next >";
    CmdNext.Enabled = false;
}

void frmSingle::CmdAddFolder_Click() {
    auto folder = app_.shell().BrowseForFolder(kPromptSource, txtSourceMailbox.Text);
    if (!folder || folder->empty()) return;
    CmdNext.Enabled = true;
    txtSourceMailbox.Text = *folder;
}

void frmSingle::CmdNext_Click() {
    if (txtSourceMailbox.Text.empty()) return;
    // The status window has no owner here; the page stays behind it, disabled.
    app_.RunStatusWindow(nullptr);
}

void frmSingle::lblSingleMailbox_Click() {
    app_.OpenHelp(kHelpSelectFolder);
}

void frmSingle::Form_Unload() {
    closed_ = true;
    Visible = false;
}

}  // namespace wizard
