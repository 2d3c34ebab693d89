#include "job/frm_migate_all.h"

#include "engine/keyed_queue.h"
#include "engine/path_routines.h"
#include "job/message_queue_scan.h"

namespace job {
namespace {

constexpr size_t kFailuresNamed = 5;

}  // namespace

frmMigateAll::frmMigateAll(engine::ConversionJob& job, ui::Shell& shell,
                           store::SessionFactory& factory, engine::Migration::Clock clock)
    : job_(job), shell_(shell), migration_(*this, job, shell, factory, std::move(clock)) {
    // The window's design.
    controls.Caption = "Conversion Status";
    controls.lblCount1.Caption = "Conversion Not Started Yet...";
    controls.lblProgress.Caption = "0% Complete";
    controls.LblCurrentDBX.Caption = "Converting Messages...";
    controls.FrameConversion.Caption = " Details ";
    controls.CmdSkip.Caption = "X";
    controls.CmdSkip.ToolTipText = "Cancel Conversion of Current Folder";
    controls.CmdStartConversion.Caption = "Sta&rt Conversion";
    controls.CmdStopMigration.Caption = "S&top Conversion";
    controls.CmdStopMigration.ToolTipText = "Stops Complete Conversion";
    controls.CmdStopMigration.Visible = false;
}

void frmMigateAll::Show() {
    open_ = true;
    Form_Load();
}

void frmMigateAll::Unload() {
    if (!open_) return;
    open_ = false;
    if (onUnload) onUnload();
}

void frmMigateAll::Form_Load() {
    run.FolderList.assign(1, std::string());
    engine::MessageQueue().Clear();
    engine::FolderQueue().Clear();
    StopRequested = false;
    SkipRequested = false;
    controls.ProgressBar1.Value = 0;
    controls.lblProgress.Caption = "0% Complete";
    controls.lblCount1.Caption = "Conversion Not Started Yet...";
    controls.LblCurrentDBX.Caption = "Converting Messages...";
    controls.FrameConversion.Caption = " Details ";
    controls.CmdSkip.Enabled = false;
}

void frmMigateAll::CmdSkip_Click() { SkipRequested = true; }

void frmMigateAll::CmdStopMigration_Click() {
    if (SkipRequested) Unload();
    StopRequested = true;
}

bool frmMigateAll::Form_QueryUnload() {
    Unload();
    return true;
}

void frmMigateAll::CmdStartConversion_Click() {
    // A click that lands while a run yields between two folders starts nothing.
    if (running_) return;
    running_ = true;
    report.Clear();
    StopRequested = false;
    bool single = job_.SingleMode();
    try {
        single ? RunSingle() : RunMultiple();
    } catch (...) {
        running_ = false;
        throw;
    }
    Finish(single);
    running_ = false;
}

int32_t frmMigateAll::ScanFolder(const std::string& path) {
    SourceFolder = path;
    FilePattern = "*.*";
    engine::MessageQueue().Clear();
    engine::FolderQueue().Clear();
    MessageCounter = 1;
    shell_.Yield();
    BuildMessageQueue(SourceFolder, FilePattern, MessageCounter, FolderCounter, controls.lblCount1,
                      shell_);
    QueuedCount = MessageCounter - 1;
    shell_.Yield();
    return QueuedCount;
}

void frmMigateAll::RunSingle() {
    shell_.Yield();
    if (StopRequested) return;
    controls.CmdStartConversion.Enabled = false;
    controls.CmdSkip.Enabled = false;
    ScanFolder(job_.SourceFolder());
    controls.lblCount1.Caption =
        "Migrating " + std::to_string(QueuedCount) + " items from " + SourceFolder;
    if (QueuedCount >= 1) {
        // A stop pressed before this point is kept: the conversion asks about it at its first poll.
        SkipRequested = false;
        controls.Caption = "Conversion Status";
        const std::string source = job_.SourceFolder();
        migration_.StartMigration(engine::FileNameOf(source), source);
    }
}

void frmMigateAll::RunMultiple() {
    const int rowCount = job_.RowCount();
    for (int i = 1; i <= rowCount; ++i) {
        shell_.Yield();
        if (!job_.RowChecked(i)) continue;
        shell_.Yield();
        // A closed window ends the run as a stop does.
        if (StopRequested || !open_) break;
        controls.CmdStartConversion.Enabled = false;
        controls.CmdSkip.Enabled = false;
        job_.MarkRowStarted(i);
        ScanFolder(job_.RowPath(i));
        controls.lblCount1.Caption = "Converting " + std::to_string(QueuedCount) +
                                     " items from " + job_.RowPath(i);
        if (QueuedCount >= 1) {
            SkipRequested = false;
            controls.Caption = "Converting " + std::to_string(i) + " of " +
                               std::to_string(job_.RowCount()) + " Folders";
            migration_.StartMigration(job_.RowText(i), job_.RowPath(i));
        }
    }
}

std::vector<std::string> frmMigateAll::CompletionLines(bool single) const {
    std::vector<std::string> lines;
    if (single) {
        lines = {"EML Messages Converted Successfully.",
                 "Open Converted PST file in Outlook to View Converted Messages."};
    } else {
        lines = {"All Folders Converted Successfully.",
                 "Open Converted PST file(s) in Outlook to View Individual files."};
    }
    const int failed = report.Failed();
    const auto notConverted = report.FoldersNotConverted();
    if (failed == 0 && notConverted.empty()) return lines;
    lines.push_back("");
    lines.push_back(std::to_string(report.Converted()) + " message file(s) converted, " +
                    std::to_string(failed) + " failed.");
    for (size_t i = 0; i < report.failures.size() && i < kFailuresNamed; ++i)
        lines.push_back("Failed: " + report.failures[i].file + " (" + report.failures[i].reason + ")");
    if (report.failures.size() > kFailuresNamed)
        lines.push_back("... and " + std::to_string(report.failures.size() - kFailuresNamed) +
                        " more.");
    for (const auto& f : report.folders)
        if (f.storeFailed)
            lines.push_back("Not converted: " + f.source + " (" + f.storeError + ")");
    return lines;
}

void frmMigateAll::Finish(bool single) {
    std::string text;
    for (const auto& line : CompletionLines(single)) text += (text.empty() ? "" : "\r\n") + line;
    shell_.MessageBox(text, "Completed", ui::MsgBoxStyle::InformationOk);
    if (StopRequested && open_) Unload();
    controls.CmdSkip.Enabled = false;
    controls.CmdStopMigration.Enabled = false;
    controls.CmdStopMigration.Visible = false;
}

}  // namespace job
