#pragma once

#include "ui/shell.h"

namespace cli {

// The shell of the command line: there are no window events to process, and message boxes
// are printed; questions are answered Yes (the command line asks nothing).
class ConsoleShell : public ui::Shell {
public:
    void Yield() override {}
    ui::MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                ui::MsgBoxStyle style) override;
    // The command line names the output file itself: the dialog answers with it.
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return savePath;
    }
    std::optional<std::string> savePath;
};

}  // namespace cli
