#include "gui/script_driver.h"

#include <wx/checkbox.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/time.h>
#include <wx/wx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "fs/console.h"
#include "fs/utf8_path.h"
#include "gui/frontend.h"
#include "gui/look.h"
#include "gui/multiple_frame.h"

namespace gui {
namespace {

constexpr int kTickMs = 120;

// The shown windows drawn by the toolkit itself at their places on a screen-sized picture. X11
// screenshots do not see reliably what Wine draws; this works wherever the toolkit runs.
bool SaveWindowsPicture(const std::string& file) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    const wxSize screen = wxGetDisplaySize();
    wxBitmap canvas(screen);
    {
        wxMemoryDC picture(canvas);
        picture.SetBackground(*wxLIGHT_GREY_BRUSH);
        picture.Clear();
        for (wxWindow* top : wxTopLevelWindows) {
            if (!top->IsShown()) continue;
            wxWindowDC window(top);
            const wxPoint at = top->GetScreenPosition();
            const wxSize size = top->GetSize();
            picture.Blit(at.x, at.y, size.x, size.y, &window, 0, 0);
        }
    }
    // Blits from a window leave a bitmap's alpha at zero on Windows: the picture is opaque.
    wxImage image = canvas.ConvertToImage();
    image.ClearAlpha();
    return image.SaveFile(wxString::FromUTF8(file), wxBITMAP_TYPE_PNG);
}

std::string Escape(std::string text) {
    for (size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos;) text.replace(i, 2, " | ");
    return text;
}

}  // namespace

ScriptDriver::ScriptDriver(Frontend& frontend, const std::string& path) : frontend_(frontend) {
    if (const char* log = std::getenv("EML2PST_WIZARD_LOG"); log && *log)
        logFile_.open(fs::PathFromUtf8(log), std::ios::app);
    name_ = fs::Utf8FromPath(fs::PathFromUtf8(path).stem());
    std::ifstream in(fs::PathFromUtf8(path));
    if (!in) {
        std::cerr << "eml2pst-wizard: cannot read the script " << path << "\n";
        fs::EndProcessNow(4);
    }
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line = line.substr(start);
        size_t space = line.find(' ');
        Step step{n, line.substr(0, space),
                  space == std::string::npos ? "" : line.substr(space + 1)};
        steps_.push_back(step);
    }
}

void ScriptDriver::Begin() {
    StartOnce(kTickMs);
}

void ScriptDriver::Log(const std::string& line) {
    (logFile_.is_open() ? static_cast<std::ostream&>(logFile_) : std::cerr) << line << std::endl;
}

ui::MsgBoxResult ScriptDriver::AnswerBox(const std::string& text, const std::string& title,
                                         ui::MsgBoxStyle style) {
    std::string answer = answers_.empty() ? "" : answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    if (answer.empty()) answer = style == ui::MsgBoxStyle::InformationOk ? "ok" : "yes";
    Log("box [" + title + "] " + Escape(text) + " -> " + answer);
    answeredTitles_.push_back(title);
    if (answer == "no") return ui::MsgBoxResult::No;
    return answer == "yes" ? ui::MsgBoxResult::Yes : ui::MsgBoxResult::Ok;
}

std::optional<std::string> ScriptDriver::AnswerSave(const std::string& filter,
                                                    const std::string& name,
                                                    const std::string& folder) {
    std::string answer = saves_.empty() ? "-" : saves_.front();
    if (!saves_.empty()) saves_.pop_front();
    Log("save [" + filter + "] proposed " + name + " in " + folder + " -> " + answer);
    if (answer == "-") return std::nullopt;
    return answer;
}

bool ScriptDriver::OpenUrl(const std::string& url) {
    Log("url " + url + (browser_ ? "" : " (no browser)"));
    return browser_;
}

std::optional<std::string> ScriptDriver::AnswerFolder(const std::string& prompt) {
    std::string answer = folders_.empty() ? "-" : folders_.front();
    if (!folders_.empty()) folders_.pop_front();
    Log("folder [" + prompt + "] -> " + answer);
    if (answer == "-") return std::nullopt;
    return answer;
}

void ScriptDriver::Notify() {
    // Re-armed first: a step that opens a modal window keeps running, and the following steps
    // are played inside that window's loop.
    StartOnce(kTickMs);
    if (wxGetLocalTimeMillis().GetValue() < holdUntil_) return;
    // Answers take no time: they are queued for the dialogs the next steps bring up.
    while (!steps_.empty() && Queue(steps_.front())) steps_.pop_front();
    if (steps_.empty()) return;
    const Step& next = steps_.front();
    if (next.verb == "wait-for") {
        wxWindow* w = frontend_.Named(next.arg);
        if (!w || !w->IsEnabled() || !w->IsShownOnScreen()) return;
    }
    if (next.verb == "wait-box") {
        auto it = std::find(answeredTitles_.begin(), answeredTitles_.end(), next.arg);
        if (it == answeredTitles_.end()) return;
        answeredTitles_.erase(it);
    }
    Step step = steps_.front();
    steps_.pop_front();
    Log("step " + std::to_string(step.line) + ": " + step.verb + " " + step.arg);
    Run(step);
}

bool ScriptDriver::Queue(const Step& step) {
    std::deque<std::string>* queue = step.verb == "folder"   ? &folders_
                                     : step.verb == "save"   ? &saves_
                                     : step.verb == "answer" ? &answers_
                                                             : nullptr;
    if (queue) queue->push_back(step.arg);
    return queue != nullptr;
}

void ScriptDriver::Fail(const Step& step, const std::string& why) {
    Log("FAILED at line " + std::to_string(step.line) + " (" + step.verb + " " + step.arg +
        "): " + why);
    std::fflush(nullptr);
    fs::EndProcessNow(4);
}

MultipleFrame* ScriptDriver::MultiplePage(const Step& step) {
    auto* page = dynamic_cast<MultipleFrame*>(frontend_.TopLevel("multiple"));
    if (!page) Fail(step, "the multiple page is not open");
    return page;
}

void ScriptDriver::Run(const Step& step) {
    frontend_.SyncAll();
    if (step.verb == "wait-box" || step.verb == "wait-for") return;
    if (step.verb == "sleep") {
        holdUntil_ = wxGetLocalTimeMillis().GetValue() + std::atol(step.arg.c_str());
        return;
    }
    if (step.verb == "click") return Click(step, step.arg);
    if (step.verb == "shot") return Shot(step.arg);
    if (step.verb == "check") {
        MultipleFrame* page = MultiplePage(step);
        if (!page->CheckRow(std::atoi(step.arg.c_str()) - 1)) Fail(step, "no such row");
        return;
    }
    if (step.verb == "select") {
        MultipleFrame* page = MultiplePage(step);
        if (!page->SelectRow(std::atoi(step.arg.c_str()) - 1)) Fail(step, "no such row");
        return;
    }
    if (step.verb == "expect-checked") {
        MultipleFrame* page = MultiplePage(step);
        std::istringstream in(step.arg);
        long row = 0;
        std::string want;
        in >> row >> want;
        std::string have = page->RowChecked(row - 1) ? "yes" : "no";
        if (have != want) Fail(step, "row " + std::to_string(row) + " checked: " + have);
        return;
    }
    if (step.verb == "browser") {
        browser_ = step.arg != "none";
        return;
    }
    if (step.verb == "key") {
        // As the toolkit delivers a key: to the top-level window first, from the focused control.
        size_t space = step.arg.find(' ');
        std::string name = step.arg.substr(0, space);
        std::string key = space == std::string::npos ? "" : step.arg.substr(space + 1);
        wxWindow* w = frontend_.Named(name);
        if (!w) Fail(step, "no control " + name);
        const int code = key == "space" ? WXK_SPACE : key == "escape" ? WXK_ESCAPE : 0;
        if (!code) Fail(step, "unknown key " + key);
        w->SetFocus();
        wxKeyEvent ev(wxEVT_CHAR_HOOK);
        ev.m_keyCode = code;
        ev.SetEventObject(w);
        wxGetTopLevelParent(w)->HandleWindowEvent(ev);
        return;
    }
    if (step.verb == "expect-tip") {
        // expect-tip ROW COLUMN TEXT (0-based column, "-" for no tooltip)
        MultipleFrame* page = MultiplePage(step);
        std::istringstream in(step.arg);
        long row = 0;
        int column = 0;
        std::string want;
        in >> row >> column >> std::ws;
        std::getline(in, want);
        if (want == "-") want.clear();
        if (want == "=") want = page->CellText(row - 1, column);
        std::string have = page->TipOverCell(row - 1, column);
        if (have != want) Fail(step, "tooltip \"" + have + "\"");
        return;
    }
    if (step.verb == "close") {
        wxWindow* top = frontend_.TopLevel(step.arg);
        if (!top) Fail(step, "no open page " + step.arg);
        top->Close();  // as the close box does: the page's close handler decides
        return;
    }
    if (step.verb == "expect" || step.verb == "expect-text") {
        size_t space = step.arg.find(' ');
        std::string name = step.arg.substr(0, space);
        std::string want = space == std::string::npos ? "" : step.arg.substr(space + 1);
        wxWindow* w = frontend_.Named(name);
        if (!w && want == "hidden") return;  // a window that is gone shows nothing
        if (!w) Fail(step, "no control " + name);
        std::string have;
        if (step.verb == "expect-text") {
            if (auto* text = dynamic_cast<wxTextCtrl*>(w))
                have = Utf8(text->GetValue());
            else
                have = Utf8(w->GetLabel());
        } else if (want == "enabled" || want == "disabled") {
            have = w->IsThisEnabled() ? "enabled" : "disabled";
        } else {
            have = w->IsShownOnScreen() ? "shown" : "hidden";
        }
        if (have != want) Fail(step, "expected " + want + ", found " + have);
        return;
    }
    Fail(step, "unknown instruction");
}

void ScriptDriver::Click(const Step& step, const std::string& name) {
    wxWindow* w = frontend_.Named(name);
    if (!w) Fail(step, "no control " + name);
    if (!w->IsEnabled() || !w->IsShownOnScreen()) Fail(step, name + " cannot be pressed now");
    if (auto* radio = dynamic_cast<wxRadioButton*>(w)) {
        radio->SetValue(true);
        wxCommandEvent ev(wxEVT_RADIOBUTTON, radio->GetId());
        ev.SetEventObject(radio);
        ev.SetInt(1);
        radio->ProcessWindowEvent(ev);
    } else if (auto* box = dynamic_cast<wxCheckBox*>(w)) {
        box->SetValue(!box->GetValue());
        wxCommandEvent ev(wxEVT_CHECKBOX, box->GetId());
        ev.SetEventObject(box);
        ev.SetInt(box->GetValue() ? 1 : 0);
        box->ProcessWindowEvent(ev);
    } else if (dynamic_cast<wxButton*>(w)) {
        wxCommandEvent ev(wxEVT_BUTTON, w->GetId());
        ev.SetEventObject(w);
        w->ProcessWindowEvent(ev);
    } else {
        // Help links and other labels answer a mouse click.
        wxMouseEvent ev(wxEVT_LEFT_UP);
        ev.SetEventObject(w);
        w->ProcessWindowEvent(ev);
    }
}

bool ScriptDriver::TakesShots() const {
    const char* dir = std::getenv("EML2PST_WIZARD_SHOTS");
    return dir && *dir;
}

void ScriptDriver::Shot(const std::string& shotName) {
    if (!TakesShots()) return;
    const char* dir = std::getenv("EML2PST_WIZARD_SHOTS");
    std::string name;
    for (char c : shotName) name += (c == ' ' || c == '/' || c == '\\') ? '-' : c;
    if (int n = ++shots_[name]; n > 1) name += "-" + std::to_string(n);
    frontend_.SyncAll();
    for (wxWindow* top : wxTopLevelWindows)
        if (top->IsShown()) top->Update();
    wxTheApp->Yield(true);
    std::string file = std::string(dir) + "/" + name + ".png";
    const char* by = std::getenv("EML2PST_WIZARD_SHOTS_BY");
    bool ok = false;
    if (by && std::string(by) == "toolkit") {
        // A picture that cannot be saved is logged here; the toolkit's own error box would be
        // modal and leave every window of the script disabled.
        wxLogNull quiet;
        ok = SaveWindowsPicture(file);
    } else {
        // The screen as the X server has it; a sub-process, so no event loop runs meanwhile.
        std::string command = "import -window root '" + file + "' 2>/dev/null";
        ok = std::system(command.c_str()) == 0;
    }
    Log("shot " + file + (ok ? "" : " (failed)"));
}

}  // namespace gui
