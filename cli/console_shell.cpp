#include "cli/console_shell.h"

#include <iostream>

namespace cli {

ui::MsgBoxResult ConsoleShell::MessageBox(const std::string& text, const std::string& title,
                                          ui::MsgBoxStyle style) {
    std::string shown;
    for (char c : text)
        if (c != '\r') shown.push_back(c);
    std::cout << "[" << title << "]\n" << shown << "\n";
    return style == ui::MsgBoxStyle::InformationOk ? ui::MsgBoxResult::Ok : ui::MsgBoxResult::Yes;
}

}  // namespace cli
