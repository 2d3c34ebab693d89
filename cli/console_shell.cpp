#include "cli/console_shell.h"

#include <iostream>

namespace cli {

ui::MsgBoxResult ConsoleShell::MessageBox(const std::string& text, const std::string& title,
                                          ui::MsgBoxStyle style) {
    std::string shown = text;
    for (size_t p; (p = shown.find("\r\n")) != std::string::npos;) shown.replace(p, 2, "\n");
    std::cout << "[" << title << "]\n" << shown << "\n";
    return style == ui::MsgBoxStyle::InformationOk ? ui::MsgBoxResult::Ok : ui::MsgBoxResult::Yes;
}

}  // namespace cli
