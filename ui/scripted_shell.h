#pragma once

#include <deque>
#include <functional>
#include <map>
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

    void Yield() override;
    MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                            MsgBoxStyle style) override;

    // Runs `action` during the n-th yield (1-based) from now on counting all yields so far.
    void AtYield(long n, std::function<void()> action) { actions_[n] = std::move(action); }
    // Runs `action` during every yield.
    void EveryYield(std::function<void()> action) { every_ = std::move(action); }
    // Answers the next message boxes in this order; boxes beyond the script get Ok/Yes.
    void Answer(MsgBoxResult r) { answers_.push_back(r); }

    long yields() const { return yields_; }
    const std::vector<ShownBox>& boxes() const { return boxes_; }

private:
    long yields_ = 0;
    std::map<long, std::function<void()>> actions_;
    std::function<void()> every_;
    std::deque<MsgBoxResult> answers_;
    std::vector<ShownBox> boxes_;
};

}  // namespace ui
