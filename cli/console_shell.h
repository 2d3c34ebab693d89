#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "engine/status_window.h"
#include "ui/shell.h"

namespace cli {

// The shell of the command line. Yield draws the status window's progress on the terminal (a
// bar on a terminal, a line per folder otherwise) and turns Ctrl-C into a Stop; message boxes
// are printed, questions answered Yes, and the save dialog answers with the output file named
// on the command line.
class ConsoleShell : public ui::Shell {
public:
    void Yield() override;
    ui::MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                ui::MsgBoxStyle style) override;
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return savePath;
    }

    std::optional<std::string> savePath;
    bool quiet = false;
    // The window whose progress is shown, and what a Ctrl-C press does.
    const engine::StatusControls* controls = nullptr;
    std::function<void()> onInterrupt;

    // Installs the Ctrl-C handler for the life of the process.
    static void CatchInterrupt();
    static bool Interrupted();

private:
    void Draw(bool force);
    bool interruptHandled_ = false;
    std::string lastLine_;
    std::string lastFolderLine_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace cli
