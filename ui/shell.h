#pragma once

#include <optional>
#include <string>

// Everything the windows and the long-running work ask of the platform. The desktop front end
// implements it with the toolkit; tests use ScriptedShell.
namespace ui {

enum class MsgBoxStyle { InformationOk, QuestionYesNo, YesNo };
enum class MsgBoxResult { Ok, Yes, No };

class Shell {
public:
    virtual ~Shell() = default;

    // One pass over the pending window events; handlers of other controls may run inside it.
    virtual void Yield() = 0;

    // A modal message box; `text` lines are joined with CR LF.
    virtual MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                    MsgBoxStyle style) = 0;

    // The save dialog: `filter` as "Description|*.ext", `proposedName` the file name offered.
    // The chosen full path, or nothing when the user cancels.
    virtual std::optional<std::string> SaveFileDialog(const std::string& filter,
                                                      const std::string& proposedName) = 0;
};

}  // namespace ui
