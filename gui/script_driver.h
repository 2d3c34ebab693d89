#pragma once

#include <wx/timer.h>

#include <cstdint>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/shell.h"

namespace gui {

class Frontend;
class MultipleFrame;

// The test hook. When EML2PST_WIZARD_SCRIPT names a file, the program plays it instead of
// waiting for a person: answers for the dialogs it would show, and actions on its windows,
// one every tick. One instruction a line ('#' starts a comment):
//   folder PATH | folder -      the next folder picker's answer (- cancels)
//   save PATH | save -          the next save dialog's answer
//   answer ok|yes|no            the next message box's answer (unanswered boxes: ok or yes)
// Answers are queued when the script reaches them, so they go before the step that asks.
//   click NAME                  presses a button, option or check box ("start.next")
//   check ROW                   ticks row ROW (1-based) of the multiple page's list
//   select ROW                  selects that row
//   expect-checked ROW yes|no   whether that row is ticked
//   expect NAME enabled|disabled|shown|hidden   (a closed window's controls are hidden)
//   expect-text NAME TEXT       the control's text or label is TEXT
//   expect-tip ROW COLUMN TEXT  the multiple page's list shows TEXT as the cell's tooltip
//                               ("-": none, "=": the cell's own text)
//   wait-box TITLE              holds until a message box titled TITLE has been answered
//   wait-for NAME               holds until the control is shown and enabled
//   key NAME space|escape       presses the key with the focus on the control
//   browser none|default        whether help links find a browser (default: they do)
//   sleep MS                    holds for MS milliseconds (windows get painted meanwhile)
//   shot NAME                   saves the screen to EML2PST_WIZARD_SHOTS/NAME.png
//   close PAGE                  closes a page from its frame (start, single, multiple, status)
// Every dialog, link and message box is written to EML2PST_WIZARD_LOG (or stderr). A failed
// expectation or an unknown instruction ends the program with status 4.
class ScriptDriver : public wxTimer {
  public:
    ScriptDriver(Frontend& frontend, const std::string& path);

    void Begin();
    ui::MsgBoxResult AnswerBox(const std::string& text, const std::string& title,
                               ui::MsgBoxStyle style);
    std::optional<std::string> AnswerSave(const std::string& filter, const std::string& name,
                                          const std::string& folder);
    // Logs the address; a browser "opens" it unless the script said `browser none`.
    bool OpenUrl(const std::string& url);
    std::optional<std::string> AnswerFolder(const std::string& prompt);
    void Log(const std::string& line);
    // Whether pictures are saved (EML2PST_WIZARD_SHOTS names a folder).
    bool TakesShots() const;
    // The script file's name without its folder and extension ("single").
    const std::string& Name() const { return name_; }
    // Saves the screen as NAME.png in that folder; a name is used once (NAME-2, NAME-3 after).
    void Shot(const std::string& name);

    void Notify() override;

  private:
    struct Step {
        int line;
        std::string verb;
        std::string arg;
    };
    void Run(const Step& step);
    bool Queue(const Step& step);
    [[noreturn]] void Fail(const Step& step, const std::string& why);
    void Click(const Step& step, const std::string& name);
    // The open multiple-folder page; a step that needs it fails without it.
    MultipleFrame* MultiplePage(const Step& step);

    Frontend& frontend_;
    std::deque<Step> steps_;
    std::deque<std::string> folders_, saves_, answers_;
    std::vector<std::string> answeredTitles_;
    std::ofstream logFile_;
    std::string name_;
    bool browser_ = true;
    std::map<std::string, int> shots_;
    int64_t holdUntil_ = 0;  // wxGetLocalTimeMillis of the end of a sleep
};

}  // namespace gui
