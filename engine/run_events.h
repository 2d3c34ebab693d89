#pragma once

#include <string>
#include <vector>

namespace engine {

struct RunReport;

// The steps of one folder's conversion that a watcher can name.
enum class RunStep {
    StoreOpened,        // the data file is created or opened
    ReadingFolders,     // the list of source folders is being read
    FolderRead,         // detail: the store path of one source folder
    CreatingFolders,    // the store's folders are being made
    FolderCreated,      // detail: the new folder's name
    ConvertingMessage,  // detail: the message file's path
    StoreContinued,     // detail: the next data file of the series, taking the rest
};

// How the conversion of one source folder ended.
enum class FolderOutcome {
    Converted,         // every queued file went through (some may have failed)
    Skipped,           // the user skipped the rest of the folder
    Stopped,           // the user stopped the run
    Cancelled,         // no data file was chosen
    StoreFailed,       // the data file could not be created, opened or closed
    NothingToConvert,  // no message file under the folder
};

// How a whole run ended, for headlines and exit statuses.
enum class RunOutcome { AllConverted, ConvertedWithFailures, Stopped, NothingToConvert };

// What a run tells those who watch it, in the order it happens. Every event has an empty
// default, so a watcher overrides only what it shows. Events arrive on the thread that runs the
// conversion.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The scan of a source folder has queued `queued` files so far.
    virtual void ScanProgress(int queued) { (void)queued; }
    // Source folder `index` of `count` (1-based; single mode: 1 of 1) is scanned: `files` files.
    virtual void FolderScanned(int index, int count, const std::string& source, int files) {
        (void)index, (void)count, (void)source, (void)files;
    }
    // Its data file is chosen and its conversion begins.
    virtual void FolderStarted(const std::string& source, const std::string& pstPath) {
        (void)source, (void)pstPath;
    }
    virtual void StepChanged(RunStep step, const std::string& detail) { (void)step, (void)detail; }
    // Queued file `index` of `count` is done with (message file or not).
    virtual void FileDone(int index, int count) { (void)index, (void)count; }
    virtual void FileFailed(const std::string& file, const std::string& reason) {
        (void)file, (void)reason;
    }
    // Stored, but only in part: what is missing.
    virtual void FileWarned(const std::string& file, const std::vector<std::string>& warnings) {
        (void)file, (void)warnings;
    }
    // Not stored: the data file's folder already holds a message read from the same bytes.
    virtual void FileAlreadyStored(const std::string& file) { (void)file; }
    // A step went on without something that failed: what and why.
    virtual void ErrorIgnored(const std::string& what, const std::string& reason) {
        (void)what, (void)reason;
    }
    // `error` says why when the data file failed.
    virtual void FolderFinished(FolderOutcome outcome, const std::string& error) {
        (void)outcome, (void)error;
    }
    virtual void RunFinished(const RunReport& report, RunOutcome outcome) {
        (void)report, (void)outcome;
    }
};

// Hands each event to every watcher added, in the order they were added.
class RunEvents : public RunObserver {
  public:
    void Add(RunObserver& observer) { observers_.push_back(&observer); }

    void ScanProgress(int queued) override {
        for (auto* o : observers_) o->ScanProgress(queued);
    }
    void FolderScanned(int index, int count, const std::string& source, int files) override {
        for (auto* o : observers_) o->FolderScanned(index, count, source, files);
    }
    void FolderStarted(const std::string& source, const std::string& pstPath) override {
        for (auto* o : observers_) o->FolderStarted(source, pstPath);
    }
    void StepChanged(RunStep step, const std::string& detail) override {
        for (auto* o : observers_) o->StepChanged(step, detail);
    }
    void FileDone(int index, int count) override {
        for (auto* o : observers_) o->FileDone(index, count);
    }
    void FileFailed(const std::string& file, const std::string& reason) override {
        for (auto* o : observers_) o->FileFailed(file, reason);
    }
    void FileWarned(const std::string& file, const std::vector<std::string>& warnings) override {
        for (auto* o : observers_) o->FileWarned(file, warnings);
    }
    void FileAlreadyStored(const std::string& file) override {
        for (auto* o : observers_) o->FileAlreadyStored(file);
    }
    void ErrorIgnored(const std::string& what, const std::string& reason) override {
        for (auto* o : observers_) o->ErrorIgnored(what, reason);
    }
    void FolderFinished(FolderOutcome outcome, const std::string& error) override {
        for (auto* o : observers_) o->FolderFinished(outcome, error);
    }
    void RunFinished(const RunReport& report, RunOutcome outcome) override {
        for (auto* o : observers_) o->RunFinished(report, outcome);
    }

  private:
    std::vector<RunObserver*> observers_;
};

}  // namespace engine
