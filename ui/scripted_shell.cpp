#include "ui/scripted_shell.h"

namespace ui {

void ScriptedShell::Yield() {
    ++yields_;
    if (every_) every_();
    auto it = actions_.find(yields_);
    if (it != actions_.end()) {
        auto action = std::move(it->second);
        actions_.erase(it);
        action();
    }
}

MsgBoxResult ScriptedShell::MessageBox(const std::string& text, const std::string& title,
                                       MsgBoxStyle style) {
    boxes_.push_back({text, title, style});
    if (!answers_.empty()) {
        MsgBoxResult r = answers_.front();
        answers_.pop_front();
        return r;
    }
    return style == MsgBoxStyle::InformationOk ? MsgBoxResult::Ok : MsgBoxResult::Yes;
}

std::optional<std::string> ScriptedShell::SaveFileDialog(const std::string& filter,
                                                         const std::string& proposedName) {
    saveDialogs_.push_back({filter, proposedName});
    if (saveAnswers_.empty()) return std::nullopt;
    auto answer = std::move(saveAnswers_.front());
    saveAnswers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedShell::BrowseForFolder(const std::string& prompt,
                                                          const std::string&) {
    folderPrompts_.push_back(prompt);
    if (folderAnswers_.empty()) return std::nullopt;
    auto answer = std::move(folderAnswers_.front());
    folderAnswers_.pop_front();
    return answer;
}

std::vector<FolderEntry> ScriptedShell::ListSubfolders(const std::string& path) {
    auto it = listings_.find(path);
    return it != listings_.end() ? it->second : Shell::ListSubfolders(path);
}

void ScriptedShell::ShowModal(Window& window, Window* owner) {
    modals_.push_back({&window, owner});
    if (whileModal) whileModal(window);
    window.Visible = false;
}

}  // namespace ui
