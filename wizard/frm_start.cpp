#include "wizard/frm_start.h"

#include "wizard/help_site.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace wizard {

frmStart::frmStart(Wizard& app) : app_(app) {
    Caption = kAppCaption;
    lblTitle.Caption = kAppTitle;
    Label3.Caption =
        "Converts *.eml / *.emlx email messages, mbox files and Maildir folders into Outlook "
        "personal folder (.pst) files. "
        "The .pst files are written by this program itself: Outlook need not be installed.";
    Frame1.Caption = " I want to convert ";
    OptSingle.Caption = "Single EML Folder";
    OptMultiple.Caption = "Multiple Folders";
    for (ui::Label* link : {&lblSingleHelp, &lblMultipleHelp}) {
        link->Caption = kHelpLinkText;
        link->ToolTipText = kHelpLinkTip;
    }
    Label2.Caption =
        "Pick one folder of messages and convert it into one .pst file. To convert "
        "several folders this way, pick and convert them one after another.";
    Label4.Caption =
        "Pick a top folder whose subfolders are mailboxes, tick the ones you want, and each "
        "becomes its own .pst file in the output folder you choose.";
    CmdHelp.Caption = "&Help Manual";
    CmdNext.Caption = "&Next >";
    Select(true);
}

void frmStart::Select(bool single) {
    OptSingle.Value = single;
    OptMultiple.Value = !single;
    OptSingle.FontWeight = single ? 700 : 400;
    OptMultiple.FontWeight = single ? 400 : 700;
}

void frmStart::OptSingle_Click() {
    Select(true);
}
void frmStart::OptMultiple_Click() {
    Select(false);
}

void frmStart::CmdNext_Click() {
    if (SingleSelected())
        app_.ShowSingle();
    else
        app_.ShowMultiple();
}

void frmStart::CmdHelp_Click() {
    app_.OpenHelp(kHelpManual);
}
void frmStart::lblSingleHelp_Click() {
    app_.OpenHelp(kHelpSingleFolder);
}
void frmStart::lblMultipleHelp_Click() {
    app_.OpenHelp(kHelpMultipleFolders);
}

bool frmStart::Form_Unload() {
    auto answer = app_.shell().MessageBox("Are you sure you want to exit now?", kAppTitle,
                                          ui::MsgBoxStyle::QuestionYesNo);
    if (answer != ui::MsgBoxResult::Yes) return true;
    app_.shell().EndProcess();
    return false;
}

}  // namespace wizard
