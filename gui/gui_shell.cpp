#include "gui/gui_shell.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>
#include <wx/wx.h>

// After wx/msgdlg.h, which it needs.
#include <wx/generic/msgdlgg.h>

#include <cstdio>
#include <cstdlib>

#include "fs/console.h"
#include "fs/shell_open.h"
#include "gui/frontend.h"
#include "gui/look.h"
#include "gui/script_driver.h"

namespace gui {

void GuiShell::Yield() {
    frontend_.SyncAll();
    // Inside another yield this does nothing, which keeps handlers from nesting without end.
    wxTheApp->Yield(true);
}

namespace {

long BoxFlags(ui::MsgBoxStyle style) {
    switch (style) {
        case ui::MsgBoxStyle::QuestionYesNo:
            return wxYES_NO | wxICON_QUESTION;
        case ui::MsgBoxStyle::YesNo:
#ifdef __WXMSW__
            return wxYES_NO | wxICON_NONE;
#else
            // The toolkit's own dialog draws an error sign for wxICON_NONE: no flag, no icon.
            return wxYES_NO;
#endif
        case ui::MsgBoxStyle::InformationOk:
        default:
            return wxOK | wxICON_INFORMATION;
    }
}

// GTK's message dialog shows no icon; the toolkit's own dialog draws the one asked for.
#ifdef __WXMSW__
using MessageDialog = wxMessageDialog;
#else
using MessageDialog = wxGenericMessageDialog;

// The same dialog with its contents laid out without a modal loop, for a picture of it.
struct PicturedBox : wxGenericMessageDialog {
    using wxGenericMessageDialog::wxGenericMessageDialog;
    void Lay() { DoCreateMsgdialog(); }
};
#endif

}  // namespace

ui::MsgBoxResult GuiShell::MessageBox(const std::string& text, const std::string& title,
                                      ui::MsgBoxStyle style) {
    frontend_.SyncAll();
    wxString message = Wx(text);
    message.Replace("\r\n", "\n");
    const long flags = BoxFlags(style) | wxCENTRE;
    if (auto* script = frontend_.script()) {
#ifndef __WXMSW__
        // A picture of the box as the user would see it, then the script's answer.
        if (script->TakesShots()) {
            auto* box = new PicturedBox(frontend_.ActiveWindow(), message, Wx(title), flags);
            box->Lay();
            box->Show();
            for (int i = 0; i < 15; ++i) {  // mapped and painted before the picture
                wxTheApp->Yield(true);
                wxMilliSleep(20);
            }
            script->Shot(script->Name() + "-box-" + title);
            box->Destroy();
        }
#endif
        return script->AnswerBox(text, title, style);
    }
    MessageDialog box(frontend_.ActiveWindow(), message, Wx(title), flags);
    switch (box.ShowModal()) {
        case wxID_YES:
            return ui::MsgBoxResult::Yes;
        case wxID_NO:
            return ui::MsgBoxResult::No;
        default:
            return ui::MsgBoxResult::Ok;
    }
}

std::optional<std::string> GuiShell::SaveFileDialog(const std::string& filter,
                                                    const std::string& proposedName) {
    frontend_.SyncAll();
    // The working folder of a program started from a menu is rarely the user's, nor writable.
    const std::string folder = SpecialFolderPath(ui::SpecialFolder::Documents);
    if (auto* script = frontend_.script()) return script->AnswerSave(filter, proposedName, folder);
    wxFileDialog dialog(frontend_.ActiveWindow(), "Save the PST File As", Wx(folder),
                        Wx(proposedName), Wx(filter), wxFD_SAVE);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return Utf8(dialog.GetPath());
}

std::optional<std::string> GuiShell::BrowseForFolder(const std::string& prompt,
                                                     const std::string& initial) {
    frontend_.SyncAll();
    if (auto* script = frontend_.script()) return script->AnswerFolder(prompt);
    wxDirDialog dialog(frontend_.ActiveWindow(), Wx(prompt), Wx(initial),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return Utf8(dialog.GetPath());
}

bool GuiShell::OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    if (auto* script = frontend_.script()) return script->OpenUrl(url);
    if (fs::OpenWithSystem(url)) return true;
    // The toolkit's launcher turns a file:// URL into a path and loses its #anchor: it is
    // only the last resort, and its own error box is kept quiet (the caller shows one).
    wxLogNull quiet;
    return wxLaunchDefaultBrowser(Wx(url));
}

std::string GuiShell::SpecialFolderPath(ui::SpecialFolder folder) {
    const auto which = folder == ui::SpecialFolder::Documents ? wxStandardPaths::Dir_Documents
                                                              : wxStandardPaths::Dir_Desktop;
    std::string path = Utf8(wxStandardPaths::Get().GetUserDir(which));
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    // Without the desktop's settings file the toolkit answers the home folder itself, even
    // when a Desktop folder is there: the base looks for the folder first.
    std::string home = Utf8(wxGetHomeDir());
    while (home.size() > 1 && (home.back() == '/' || home.back() == '\\')) home.pop_back();
    if (!path.empty() && path != home && wxDirExists(Wx(path))) return path;
    std::string fallback = Shell::SpecialFolderPath(folder);
    return fallback.empty() ? home : fallback;
}

void GuiShell::ShowModal(ui::Window& window, ui::Window* owner) {
    frontend_.ShowModal(window, owner);
}

void GuiShell::EndProcess() {
    if (auto* script = frontend_.script()) script->Log("exit");
    std::fflush(nullptr);
    // At once: no close handlers, no destructors of windows that are still up.
    fs::EndProcessNow(0);
}

}  // namespace gui
