#include "cli/console_shell.h"

#include <iostream>

#include "fs/console.h"

namespace cli {

void ConsoleShell::CatchInterrupt() {
    fs::CatchInterrupt();
}
bool ConsoleShell::Interrupted() {
    return fs::Interrupted();
}

void ConsoleShell::Yield() {
    if (fs::Interrupted() && !interruptHandled_ && onInterrupt) {
        interruptHandled_ = true;
        onInterrupt();
    }
}

ui::MsgBoxResult ConsoleShell::MessageBox(const std::string&, const std::string&,
                                          ui::MsgBoxStyle style) {
    return style == ui::MsgBoxStyle::InformationOk ? ui::MsgBoxResult::Ok : ui::MsgBoxResult::Yes;
}

void ConsoleProgress::ScanProgress(int queued) {
    if (terminal_) Draw(folder_ + "scanning: " + std::to_string(queued) + " files", false);
}

void ConsoleProgress::FolderScanned(int index, int count, const std::string& source, int files) {
    folder_ =
        count > 1 ? "folder " + std::to_string(index) + " of " + std::to_string(count) + ": " : "";
    source_ = source;
    if (quiet_) return;
    EndLine();
    out_ << folder_ << files << (files == 1 ? " file" : " files") << " under " << source << "\n";
}

void ConsoleProgress::FileDone(int index, int count) {
    if (!terminal_ || count <= 0) return;
    const int width = 30;
    int filled = int(int64_t(index) * width / count);
    filled = filled < 0 ? 0 : filled > width ? width : filled;
    Draw("[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') + "] " +
             std::to_string(index) + " of " + std::to_string(count),
         index == count);
}

void ConsoleProgress::FolderFinished(engine::FolderOutcome outcome, const std::string& error) {
    if (outcome != engine::FolderOutcome::StoreFailed) return;
    EndLine();
    out_ << std::flush;
    std::cerr << "eml2pst: " << source_ << " not converted: " << error << "\n";
}

void ConsoleProgress::RunFinished(const engine::RunReport&, engine::RunOutcome) {
    EndLine();
}

void ConsoleProgress::Draw(const std::string& line, bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    if (line == lastLine_) return;
    out_ << "\r" << line
         << std::string(lastLine_.size() > line.size() ? lastLine_.size() - line.size() : 0, ' ')
         << std::flush;
    lastLine_ = line;
}

void ConsoleProgress::EndLine() {
    if (lastLine_.empty()) return;
    out_ << "\n";
    lastLine_.clear();
}

}  // namespace cli
