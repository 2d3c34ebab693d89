#pragma once

#include "ui/shell.h"

namespace gui {

class Frontend;

// The shell on wxWidgets. With the test hook active, dialogs are answered from its script
// instead of being shown, and help links are logged instead of opened.
class GuiShell : public ui::Shell {
  public:
    explicit GuiShell(Frontend& frontend) : frontend_(frontend) {}

    // Brings the windows in line with their models, then one pass of pending events.
    void Yield() override;
    ui::MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                ui::MsgBoxStyle style) override;
    std::optional<std::string> SaveFileDialog(const std::string& filter,
                                              const std::string& proposedName) override;
    std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                               const std::string& initial) override;
    bool OpenUrl(const std::string& url) override;
    // The folder as the user's settings name it (it may be localised), else the default.
    std::string SpecialFolderPath(ui::SpecialFolder folder) override;
    void ShowModal(ui::Window& window, ui::Window* owner) override;
    void EndProcess() override;

  private:
    Frontend& frontend_;
};

}  // namespace gui
