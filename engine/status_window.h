#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/object_model.h"
#include "ui/controls.h"

namespace engine {

// The controls of the status window that the job driver and the conversion write.
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

// What one run converted and what it could not, for the completion box and the command line.
struct RunReport {
    struct Failure {
        std::string file;
        std::string reason;
    };
    struct FolderResult {
        std::string source;
        std::string pstPath;
        int queued = 0;
        int converted = 0;
        int failed = 0;
        bool skipped = false;
        bool storeFailed = false;
        std::string storeError;
    };
    std::vector<FolderResult> folders;
    std::vector<Failure> failures;  // every failed message file, in order

    int Converted() const;
    int Failed() const;
    std::vector<std::string> FoldersNotConverted() const;
    void Clear() { *this = RunReport(); }
};

// The run state of the current conversion.
struct RunState {
    std::string RunStamp;
    std::string PstPath;
    std::string StoreDisplayName;
    store::EntryId StoreEntryId;
    std::string InboxName;
    std::string SentName;
    std::string RootPath;
    std::vector<std::string> FolderList{std::string()};
    int32_t MessageIndex = 0;
    std::shared_ptr<store::Session> session;
    std::shared_ptr<store::Store> store;
};

// The status window as the conversion sees it: its controls, its request flags and its run
// state. The job layer's window model derives from it.
class StatusWindow {
public:
    virtual ~StatusWindow() = default;

    // Closes the window. Its model stays valid; IsOpen() then answers false.
    virtual void Unload() = 0;
    virtual bool IsOpen() const = 0;

    StatusControls controls;
    bool SkipRequested = false;
    bool StopRequested = false;
    int32_t QueuedCount = 0;
    RunState run;
    RunReport report;
};

// The job as the wizard pages (or the command line) hold it, read at the moment it is needed.
class ConversionJob {
public:
    virtual ~ConversionJob() = default;
    virtual bool SingleMode() const = 0;
    virtual std::string SourceFolder() const = 0;  // single mode
    virtual std::string OutputFolder() const = 0;  // multiple mode, as typed
    virtual int RowCount() const = 0;              // multiple mode: the folder rows
    virtual bool RowChecked(int row) const = 0;    // rows are 1-based
    virtual std::string RowText(int row) const = 0;
    virtual std::string RowPath(int row) const = 0;
    // Marks a row the driver begins: green text and one more display state.
    virtual void MarkRowStarted(int row) = 0;
};

}  // namespace engine
