#include "gui/gui_shell.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>
#include <wx/wx.h>

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

ui::MsgBoxResult GuiShell::MessageBox(const std::string& text, const std::string& title,
                                      ui::MsgBoxStyle style) {
    frontend_.SyncAll();
    if (auto* script = frontend_.script()) return script->AnswerBox(text, title, style);
    wxString message = Wx(text);
    message.Replace("\r\n", "\n");
    long flags = 0;
    switch (style) {
        case ui::MsgBoxStyle::InformationOk:
            flags = wxOK | wxICON_INFORMATION;
            break;
        case ui::MsgBoxStyle::QuestionYesNo:
            flags = wxYES_NO | wxICON_QUESTION;
            break;
        case ui::MsgBoxStyle::YesNo:
            flags = wxYES_NO | wxICON_NONE;
            break;
    }
    wxMessageDialog box(frontend_.ActiveWindow(), message, Wx(title), flags | wxCENTRE);
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
    if (auto* script = frontend_.script()) return script->AnswerSave(filter, proposedName);
    wxFileDialog dialog(frontend_.ActiveWindow(), "Save the PST File As", wxEmptyString,
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

void GuiShell::OpenUrl(const std::string& url) {
    if (url.empty()) return;
    if (auto* script = frontend_.script()) {
        script->Log("url " + url);
        return;
    }
    if (!fs::OpenWithSystem(url)) wxLaunchDefaultBrowser(Wx(url));
}

std::string GuiShell::SpecialFolderPath(ui::SpecialFolder folder) {
    std::string desktop = Utf8(wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Desktop));
    while (desktop.size() > 1 && desktop.back() == '/') desktop.pop_back();
    if (!desktop.empty() && wxDirExists(Wx(desktop))) return desktop;
    return Shell::SpecialFolderPath(folder);
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
