#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/migration.h"
#include "engine/status_window.h"
#include "store/object_model.h"
#include "ui/controls.h"
#include "ui/shell.h"

namespace job {

// The controls of the status window.
struct StatusControls {
    std::string Caption = "Conversion Status";
    ui::Label lblCount1;
    ui::Label lblProgress;
    ui::Label LblCurrentDBX;
    ui::Frame FrameConversion;
    ui::ProgressBar ProgressBar1;
    ui::Button CmdSkip;
    ui::Button CmdStartConversion;
    ui::Button CmdStopMigration;
};

// The status window "Conversion Status" as a model: its controls, request flags, the job
// driver behind "Sta&rt Conversion" and the Skip and Stop handlers. It watches its own runs and
// shows their events in its controls.
class frmMigateAll : public engine::StatusWindow, private engine::RunObserver {
  public:
    frmMigateAll(engine::ConversionJob& job, ui::Shell& shell, store::SessionFactory& factory,
                 engine::Migration::Clock clock = {});

    // Opens the window in its initial state.
    void Show();
    void Unload() override;
    bool IsOpen() const override { return open_; }
    // Called when the window closes; the desktop front end closes the native window there.
    std::function<void()> onUnload;

    void Form_Load();
    void CmdStartConversion_Click();
    void CmdSkip_Click();
    void CmdStopMigration_Click();
    // Closing is never refused, whatever asks for it.
    bool Form_QueryUnload();

    bool Running() const { return running_; }

    StatusControls controls;

    // The driver's members.
    std::string SourceFolder;
    std::string FilePattern;
    int32_t MessageCounter = 0;
    int32_t FolderCounter = 0;

    // The completion box texts for the last run (also what the command line prints).
    std::vector<std::string> CompletionLines(bool single) const;

  private:
    void ScanProgress(int queued) override;
    void FolderScanned(int index, int count, const std::string& source, int files) override;
    void FolderStarted(const std::string& source, const std::string& pstPath) override;
    void StepChanged(engine::RunStep step, const std::string& detail) override;
    void FileDone(int index, int count) override;
    void FolderFinished(engine::FolderOutcome outcome, const std::string& error) override;

    // Whether the scan just made found something to convert.
    bool HasSomethingToConvert() const;
    // Records a folder left alone for want of message files.
    void NothingToConvert(const std::string& source);
    void RunSingle();
    void RunMultiple();
    int32_t ScanFolder(const std::string& path);
    void Finish(bool single);

    engine::ConversionJob& job_;
    ui::Shell& shell_;
    engine::Migration migration_;
    bool open_ = false;
    bool running_ = false;
    bool single_ = true;
};

}  // namespace job
