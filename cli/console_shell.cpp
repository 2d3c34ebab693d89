#include "cli/console_shell.h"

#include <iostream>

#include "fs/console.h"

namespace cli {
namespace {

std::string WithoutAccessKeys(const std::string& caption) {
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') {
            out.push_back('&');
            ++i;
        } else if (caption[i] != '&') {
            out.push_back(caption[i]);
        }
    }
    return out;
}

}  // namespace

void ConsoleShell::CatchInterrupt() { fs::CatchInterrupt(); }
bool ConsoleShell::Interrupted() { return fs::Interrupted(); }

void ConsoleShell::Yield() {
    if (fs::Interrupted() && !interruptHandled_ && onInterrupt) {
        interruptHandled_ = true;
        onInterrupt();
    }
    if (!quiet && controls) Draw(false);
}

void ConsoleShell::Draw(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    if (fs::IsTerminal(stdout)) {
        const int width = 30;
        int filled = int(controls->ProgressBar1.Value * width / 100);
        if (filled < 0) filled = 0;
        if (filled > width) filled = width;
        std::string line = "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') +
                           "] " + controls->lblProgress.Caption + "  " + controls->lblCount1.Caption;
        if (line.size() > 110) line.resize(110);
        if (line != lastLine_) {
            std::cout << "\r" << line << std::string(lastLine_.size() > line.size() ? lastLine_.size() - line.size() : 0, ' ')
                      << std::flush;
            lastLine_ = line;
        }
    } else if (controls->lblCount1.Caption != lastFolderLine_ &&
               controls->lblCount1.Caption.find("items from") != std::string::npos) {
        lastFolderLine_ = controls->lblCount1.Caption;
        std::cout << lastFolderLine_ << "\n";
    }
}

ui::MsgBoxResult ConsoleShell::MessageBox(const std::string& text, const std::string& title,
                                          ui::MsgBoxStyle style) {
    if (!lastLine_.empty()) {
        std::cout << "\n";
        lastLine_.clear();
    }
    if (!quiet || title != "Completed") {
        std::string shown;
        for (char c : text)
            if (c != '\r') shown.push_back(c);
        (title == "Outlook Error" ? std::cerr : std::cout)
            << "[" << WithoutAccessKeys(title) << "]\n" << shown << "\n";
    }
    return style == ui::MsgBoxStyle::InformationOk ? ui::MsgBoxResult::Ok : ui::MsgBoxResult::Yes;
}

}  // namespace cli
