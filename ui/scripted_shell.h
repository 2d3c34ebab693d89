#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/shell.h"

namespace ui {

// A shell for tests: counts yields, runs an action at a chosen yield (the way a click lands
// while long work yields), records message boxes and answers them from a script.
class ScriptedShell : public Shell {
public:
    struct ShownBox {
        std::string text;
        std::string title;
        MsgBoxStyle style;
    };
    struct ShownSaveDialog {
        std::string filter;
        std::string proposedName;
    };

    void Yield() override;
    MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                            MsgBoxStyle style) override;
    std::optional<std::string> SaveFileDialog(const std::string& filter,
                                              const std::string& proposedName) override;

    // Runs `action` during the n-th yield (1-based) from now on counting all yields so far.
    void AtYield(long n, std::function<void()> action) { actions_[n] = std::move(action); }
    // Runs `action` during every yield.
    void EveryYield(std::function<void()> action) { every_ = std::move(action); }
    // Answers the next message boxes in this order; boxes beyond the script get Ok/Yes.
    void Answer(MsgBoxResult r) { answers_.push_back(r); }
    // Answers the next save dialogs in this order (nothing = cancel); beyond the script: cancel.
    void AnswerSave(std::optional<std::string> path) { saveAnswers_.push_back(std::move(path)); }

    long yields() const { return yields_; }
    const std::vector<ShownBox>& boxes() const { return boxes_; }
    const std::vector<ShownSaveDialog>& saveDialogs() const { return saveDialogs_; }

private:
    long yields_ = 0;
    std::map<long, std::function<void()>> actions_;
    std::function<void()> every_;
    std::deque<MsgBoxResult> answers_;
    std::vector<ShownBox> boxes_;
    std::deque<std::optional<std::string>> saveAnswers_;
    std::vector<ShownSaveDialog> saveDialogs_;
};

}  // namespace ui
