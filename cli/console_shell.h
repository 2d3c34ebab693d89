#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "engine/run_events.h"
#include "ui/shell.h"

namespace cli {

// The shell of the command line: Yield turns a Ctrl-C into a Stop; questions are answered Yes,
// the save dialog answers with the output file named on the command line, and the window's
// boxes are left unshown: what they say comes from the run's events and its summary.
class ConsoleShell : public ui::Shell {
  public:
    void Yield() override;
    ui::MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                ui::MsgBoxStyle style) override;
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return savePath;
    }

    std::optional<std::string> savePath;
    // What a Ctrl-C press does.
    std::function<void()> onInterrupt;

    // Installs the Ctrl-C handler for the life of the process.
    static void CatchInterrupt();
    static bool Interrupted();

  private:
    bool interruptHandled_ = false;
};

// Draws a run's progress on `out`: a bar redrawn in place on a terminal, a line per source
// folder otherwise; nothing when `quiet`. A data file that fails is told on stderr in any case.
class ConsoleProgress : public engine::RunObserver {
  public:
    ConsoleProgress(std::ostream& out, bool terminal, bool quiet)
        : out_(out), terminal_(terminal && !quiet), quiet_(quiet) {}

    void ScanProgress(int queued) override;
    void FolderScanned(int index, int count, const std::string& source, int files) override;
    void FileDone(int index, int count) override;
    void FolderFinished(engine::FolderOutcome outcome, const std::string& error) override;
    void RunFinished(const engine::RunReport& report, engine::RunOutcome outcome) override;

  private:
    void Draw(const std::string& line, bool force);
    void EndLine();

    std::ostream& out_;
    bool terminal_;
    bool quiet_;
    std::string source_;
    std::string folder_;  // "folder i of n" when there are several
    std::string lastLine_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace cli
