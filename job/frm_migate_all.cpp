#include "job/frm_migate_all.h"

#include <cmath>

#include "engine/path_routines.h"
#include "job/message_queue_scan.h"

namespace job {
namespace {

constexpr size_t kFailuresNamed = 5;

// Rounded to the nearest whole number, halves to even.
long RoundHalfEven(float value) {
    return std::lrint(value);
}

// The window as designed: what every opening shows.
StatusControls DesignControls() {
    StatusControls c;
    c.Caption = "Conversion Status";
    c.lblCount1.Caption = "Conversion Not Started Yet...";
    c.lblProgress.Caption = "0% Complete";
    c.LblCurrentDBX.Caption = "Converting Messages...";
    c.FrameConversion.Caption = " Details ";
    c.CmdSkip.Caption = "X";
    c.CmdSkip.ToolTipText = "Cancel Conversion of Current Folder";
    c.CmdStartConversion.Caption = "Sta&rt Conversion";
    c.CmdStopMigration.Caption = "S&top Conversion";
    c.CmdStopMigration.ToolTipText = "Stops Complete Conversion";
    c.CmdStopMigration.Visible = false;
    return c;
}

}  // namespace

frmMigateAll::frmMigateAll(engine::ConversionJob& job, ui::Shell& shell,
                           store::SessionFactory& factory, engine::Migration::Clock clock)
    : job_(job), shell_(shell), migration_(*this, job, shell, factory, std::move(clock)) {
    controls = DesignControls();
    events.Add(*this);
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
    // Every opening starts from the design, whatever the last run ended with (a Stop, a close,
    // a cancelled dialog, a failed data file, nothing to convert): Start offered, texts as
    // designed, no request or run state left over.
    if (!running_) run = engine::RunState();
    scan.Clear();
    StopRequested = false;
    SkipRequested = false;
    controls = DesignControls();
    controls.CmdSkip.Enabled = false;
}

void frmMigateAll::CmdSkip_Click() {
    SkipRequested = true;
}

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
    single_ = single;
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
    scan.Clear();
    MessageCounter = 1;
    shell_.Yield();
    BuildMessageQueue(SourceFolder, FilePattern, MessageCounter, FolderCounter, scan, events,
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
    events.FolderScanned(1, 1, SourceFolder, QueuedCount);
    const std::string source = job_.SourceFolder();
    if (HasSomethingToConvert()) {
        // A stop pressed before this point is kept: the conversion asks about it at its first poll.
        SkipRequested = false;
        migration_.StartMigration(engine::FileNameOf(source), source);
    } else {
        NothingToConvert(source);
    }
}

bool frmMigateAll::HasSomethingToConvert() const {
    if (QueuedCount < 1) return false;
    if (job_.ConvertsFoldersWithoutMessages()) return true;
    engine::SourceEntries entries;
    for (const auto& entry : scan.messages)
        if (entries.IsMessage(entry.value)) return true;
    return false;
}

void frmMigateAll::NothingToConvert(const std::string& source) {
    report.folders.push_back({});
    report.folders.back().source = source;
    report.folders.back().queued = QueuedCount;
    report.folders.back().unreadFolders = scan.unreadFolders;
    report.folders.back().outcome = engine::FolderOutcome::NothingToConvert;
    events.FolderFinished(engine::FolderOutcome::NothingToConvert, "");
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
        events.FolderScanned(i, job_.RowCount(), job_.RowPath(i), QueuedCount);
        if (HasSomethingToConvert()) {
            SkipRequested = false;
            migration_.StartMigration(job_.RowText(i), job_.RowPath(i));
        } else {
            NothingToConvert(job_.RowPath(i));
        }
    }
}

std::vector<std::string> frmMigateAll::CompletionLines(bool single) const {
    std::vector<std::string> lines;
    const std::string open =
        single ? "Open Converted PST file in Outlook to View Converted Messages."
               : "Open Converted PST file(s) in Outlook to View Individual files.";
    if (report.Complete()) {
        lines = {
            single ? "EML Messages Converted Successfully." : "All Folders Converted Successfully.",
            open};
    } else {
        // Success is claimed only when every queued message file was converted.
        lines = {report.Headline()};
        if (report.Converted() > 0) lines.push_back(open);
    }
    // A data file that reached the size limit went on in further files: each is named.
    for (const auto& f : report.folders) {
        if (f.continuations.empty()) continue;
        std::string files = f.pstPath;
        for (const auto& c : f.continuations) files += ", " + c;
        lines.push_back("Data files: " + files);
    }
    const int failed = report.Failed();
    const int already = report.AlreadyStored();
    if (report.Complete() && report.warnings.empty() && already == 0) return lines;
    lines.push_back("");
    lines.push_back(std::to_string(report.Converted()) + " message file(s) converted, " +
                    std::to_string(failed) + " failed.");
    if (already > 0)
        lines.push_back(std::to_string(already) +
                        " message file(s) already in the data file, not added again.");
    for (size_t i = 0; i < report.failures.size() && i < kFailuresNamed; ++i)
        lines.push_back("Failed: " + report.failures[i].file + " (" + report.failures[i].reason +
                        ")");
    if (report.failures.size() > kFailuresNamed)
        lines.push_back("... and " + std::to_string(report.failures.size() - kFailuresNamed) +
                        " more.");
    for (size_t i = 0; i < report.warnings.size() && i < kFailuresNamed; ++i)
        lines.push_back("Converted only in part: " + report.warnings[i].file + " (" +
                        report.warnings[i].warnings.front() + ")");
    if (report.warnings.size() > kFailuresNamed)
        lines.push_back("... and " + std::to_string(report.warnings.size() - kFailuresNamed) +
                        " more converted in part.");
    for (const auto& f : report.folders)
        if (f.storeFailed)
            lines.push_back((f.storeOpened ? "Not converted to the end: " : "Not converted: ") +
                            f.source + " (" + f.storeError + ")");
    const auto unread = report.UnreadFolders();
    for (size_t i = 0; i < unread.size() && i < kFailuresNamed; ++i)
        lines.push_back("Could not be read: " + unread[i].file + " (" + unread[i].reason + ")");
    if (unread.size() > kFailuresNamed)
        lines.push_back("... and " + std::to_string(unread.size() - kFailuresNamed) +
                        " more folders could not be read.");
    return lines;
}

void frmMigateAll::Finish(bool single) {
    events.RunFinished(report, report.Outcome());
    std::string text;
    for (const auto& line : CompletionLines(single)) text += (text.empty() ? "" : "\r\n") + line;
    shell_.MessageBox(text, "Completed", ui::MsgBoxStyle::InformationOk);
    if (StopRequested && open_) Unload();
    controls.CmdSkip.Enabled = false;
    controls.CmdStopMigration.Enabled = false;
    controls.CmdStopMigration.Visible = false;
}

void frmMigateAll::ScanProgress(int queued) {
    controls.lblCount1.Caption = std::to_string(queued) + " Messages Queued for Conversion.";
}

void frmMigateAll::FolderScanned(int index, int count, const std::string& source, int files) {
    controls.lblCount1.Caption =
        (single_ ? "Migrating " : "Converting ") + std::to_string(files) + " items from " + source;
    if (files < 1) return;
    controls.Caption = single_ ? "Conversion Status"
                               : "Converting " + std::to_string(index) + " of " +
                                     std::to_string(count) + " Folders";
}

void frmMigateAll::FolderStarted(const std::string&, const std::string&) {
    controls.ProgressBar1.Min = 0;
    controls.ProgressBar1.Max = 100;
    controls.CmdStopMigration.Visible = true;
    controls.CmdStopMigration.Enabled = true;
    controls.CmdSkip.Enabled = true;
}

void frmMigateAll::StepChanged(engine::RunStep step, const std::string& detail) {
    std::string& text = controls.LblCurrentDBX.Caption;
    switch (step) {
        case engine::RunStep::StoreOpened:
            text = "Outlook Session Created...";
            controls.CmdStartConversion.Enabled = false;
            break;
        case engine::RunStep::ReadingFolders:
            text = "Reading Folder(s)...";
            break;
        case engine::RunStep::FolderRead:
            text = "Reading Folder(s)... " + detail;
            break;
        case engine::RunStep::CreatingFolders:
            text = "Creating Outlook Folders...";
            break;
        case engine::RunStep::FolderCreated:
            text = "Creating Outlook Folders... " + detail;
            break;
        case engine::RunStep::ConvertingMessage:
            text = "Converting Messages... from (" + detail + ")";
            break;
        case engine::RunStep::StoreContinued:
            text = "Continuing in " + detail;
            break;
    }
}

void frmMigateAll::FileDone(int index, int count) {
    controls.FrameConversion.Caption = "Reading Messages && Email Metadata - (" +
                                       std::to_string(index) + " of " + std::to_string(count) +
                                       ") File(s)";
    if (count > 0) controls.ProgressBar1.Value = float(double(index) / double(count) * 100.0);
    controls.lblProgress.Caption =
        std::to_string(RoundHalfEven(controls.ProgressBar1.Value)) + "% Complete";
}

void frmMigateAll::FolderFinished(engine::FolderOutcome outcome, const std::string&) {
    switch (outcome) {
        case engine::FolderOutcome::Skipped:
            controls.lblProgress.Caption = "Skipped... at " + controls.lblProgress.Caption;
            controls.lblCount1.Caption = "Checking Next Folder...";
            controls.CmdStartConversion.Enabled = true;
            break;
        case engine::FolderOutcome::Stopped:
            controls.lblProgress.Caption = "Stopped... at " + controls.lblProgress.Caption;
            controls.lblCount1.Caption = "Stopped...";
            break;
        case engine::FolderOutcome::Converted:
            controls.CmdStartConversion.Enabled = true;
            break;
        default:
            break;
    }
}

}  // namespace job
