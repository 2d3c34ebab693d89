#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/keyed_queue.h"
#include "engine/run_events.h"
#include "store/object_model.h"

namespace engine {

// What one run converted and what it could not, for the completion box and the command line.
struct RunReport {
    struct Failure {
        std::string file;
        std::string reason;
    };
    struct Warning {
        std::string file;
        std::vector<std::string> warnings;
    };
    struct FolderResult {
        std::string source;
        std::string linkedFrom;  // where the source leads when it is a link; empty otherwise
        std::string pstPath;
        // The further files of its series ("NAME (2).pst", ...) this conversion read or wrote
        // once a file reached the size limit, in order.
        std::vector<std::string> continuations;
        int queued = 0;        // files found, message files or not
        int messageFiles = 0;  // of those, the ones taken for messages by their names
        int converted = 0;     // stored, with or without warnings
        int warned = 0;        // stored only in part
        int failed = 0;
        // Message files the target folder already held (the same bytes): not stored again.
        int alreadyStored = 0;
        int foldersCreated = 0;
        FolderOutcome outcome = FolderOutcome::Converted;
        // Skipped, stopped or no data file chosen.
        bool Skipped() const {
            return outcome == FolderOutcome::Skipped || outcome == FolderOutcome::Stopped ||
                   outcome == FolderOutcome::Cancelled;
        }
        bool storeOpened = false;  // the data file was created or opened and set up
        bool storeFailed = false;
        std::string storeError;
        // Folders of the source (the source itself included) that could not be listed, with
        // the cause: their files were not found, let alone converted.
        std::vector<Failure> unreadFolders;
    };
    std::vector<FolderResult> folders;
    std::vector<Failure> failures;  // every failed message file, in order
    std::vector<Warning> warnings;  // every message file stored only in part, in order
    std::vector<Failure> ignored;   // what a step went on without, and why

    int Converted() const;
    int Failed() const;
    int Warned() const;
    int AlreadyStored() const;
    std::vector<std::string> FoldersNotConverted() const;
    // Every folder that could not be listed, in the order met.
    std::vector<Failure> UnreadFolders() const;
    RunOutcome Outcome() const;
    // Whether every message file of every folder taken up was converted (and there was one).
    bool Complete() const;
    // What happened when the run is not complete: "Conversion stopped.", "Nothing was
    // converted.", "Converted with failures.", "Some folders could not be read." or "Some
    // folders were skipped."; empty when it is.
    std::string Headline() const;
    void Clear() { *this = RunReport(); }
};

// What the scan of one source folder queued: full paths of its files under keys "K<n>" and of
// its subfolders under keys "Z<n>", in the order of the walk; and the folders it could not
// list, with the cause.
struct ScanResult {
    KeyedQueue messages;
    KeyedQueue folders;
    std::vector<RunReport::Failure> unreadFolders;
    void Clear() {
        messages.Clear();
        folders.Clear();
        unreadFolders.clear();
    }
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

// The status window as the conversion sees it: its request flags, the scan it converts, its run
// state and report, and the watchers of the run. The job layer's window model derives from it.
class StatusWindow {
  public:
    virtual ~StatusWindow() = default;

    // Closes the window. Its model stays valid; IsOpen() then answers false.
    virtual void Unload() = 0;
    virtual bool IsOpen() const = 0;

    bool SkipRequested = false;
    bool StopRequested = false;
    int32_t QueuedCount = 0;
    RunState run;
    ScanResult scan;
    RunReport report;
    RunEvents events;
};

// The largest data file recent versions of Outlook open without a change to their settings.
inline constexpr uint64_t kDefaultMaxDataFileSize = uint64_t(50) << 30;

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
    // Whether a message file whose bytes the target folder already holds is stored again.
    virtual bool KeepsDuplicates() const { return false; }
    // The size a data file may reach; the conversion goes on in "NAME (2).pst", "NAME (3).pst",
    // ... beyond it. 0: no limit.
    virtual uint64_t MaxDataFileSize() const { return kDefaultMaxDataFileSize; }
    // Whether a folder whose files include no message file still gets its (empty) data file.
    virtual bool ConvertsFoldersWithoutMessages() const { return true; }
    // Where the user reads about a page of the help manual (e.g. "store-errors.html").
    virtual std::string HelpLocation(const std::string& page) const { return "docs/help/" + page; }
};

}  // namespace engine
