#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/controls.h"
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
    std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                               const std::string& initial = "") override;
    bool OpenUrl(const std::string& url) override {
        urls_.push_back(url);
        return opensUrls;
    }
    std::string SpecialFolderPath(SpecialFolder) override { return desktop; }
    std::vector<FolderEntry> ListSubfolders(const std::string& path) override;
    void ShowModal(Window& window, Window* owner) override;
    void EndProcess() override { ++endProcessCalls_; }

    // Runs `action` during the n-th yield (1-based) from now on counting all yields so far.
    void AtYield(long n, std::function<void()> action) { actions_[n] = std::move(action); }
    // Runs `action` during every yield.
    void EveryYield(std::function<void()> action) { every_ = std::move(action); }
    // Answers the next message boxes in this order; boxes beyond the script get Ok/Yes.
    void Answer(MsgBoxResult r) { answers_.push_back(r); }
    // Answers the next save dialogs in this order (nothing = cancel); beyond the script: cancel.
    void AnswerSave(std::optional<std::string> path) { saveAnswers_.push_back(std::move(path)); }

    // Answers the next folder pickers in this order (nothing = cancel); beyond the script: cancel.
    void AnswerFolder(std::optional<std::string> path) {
        folderAnswers_.push_back(std::move(path));
    }
    // Gives `path` this listing instead of the file system's.
    void ScriptSubfolders(const std::string& path, std::vector<FolderEntry> entries) {
        listings_[path] = std::move(entries);
    }
    // Runs while a window is shown modally (the user's work inside it); without it a modal
    // window returns at once, as if closed straight away.
    std::function<void(Window&)> whileModal;
    std::string desktop = "/home/user/Desktop";
    // Whether a browser takes the addresses handed to OpenUrl.
    bool opensUrls = true;

    long yields() const { return yields_; }
    const std::vector<std::string>& folderPrompts() const { return folderPrompts_; }
    const std::vector<std::string>& urls() const { return urls_; }
    // The windows shown modally, with their owners, in order.
    const std::vector<std::pair<Window*, Window*>>& modals() const { return modals_; }
    int endProcessCalls() const { return endProcessCalls_; }
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
    std::deque<std::optional<std::string>> folderAnswers_;
    std::vector<std::string> folderPrompts_;
    std::vector<std::string> urls_;
    std::map<std::string, std::vector<FolderEntry>> listings_;
    std::vector<std::pair<Window*, Window*>> modals_;
    int endProcessCalls_ = 0;
};

}  // namespace ui
