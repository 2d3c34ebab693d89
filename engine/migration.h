#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/source_entries.h"
#include "engine/status_window.h"
#include "store/object_model.h"
#include "ui/shell.h"

namespace engine {

// The help manual's page on failures of the data file.
inline constexpr const char* kStoreErrorsPage = "store-errors.html";

// The conversion of one source folder into one data file: set-up, folder phase, message phase
// and the end of the conversion, told to the window's watchers as it goes and recorded in its
// report.
class Migration {
  public:
    using Clock = std::function<std::tm()>;  // local time now

    Migration(StatusWindow& window, const ConversionJob& job, ui::Shell& shell,
              store::SessionFactory& factory, Clock clock = {});

    void StartMigration(const std::string& folderName, const std::string& sourcePath);

    // Texts of the "Outlook Error" box; the last line names the manual page on store errors.
    static std::vector<std::string> SessionFailureLines(const ConversionJob& job);

    // Whether a queued file is a message file, by its name.
    static bool IsMessageFile(const std::string& path);

  private:
    enum class Outcome { Finished, Skipped, Stopped };

    // Shows the "Outlook Error" box and lets the data file go.
    void SessionFailure(const std::string& cause);
    // Opens run_.PstPath in the session for adding and reads its default folders' names.
    void OpenStore();
    // Finds the series the chosen data file begins ("NAME (2).pst", ...): the conversion goes
    // on in its last file, and the digests of the others count as stored.
    void FindSeries();
    // Adds the source digests of a data file of the series to those counted as stored.
    void ReadSeriesDigests(const std::string& path);
    // Closes the full data file and opens the next of its series; false when that failed.
    bool ContinueInNextFile();
    void Ignored(const std::string& what, const std::string& reason);
    void Finished(FolderOutcome outcome);
    void ReadFolderList();
    void CreateFolders();
    void CreateFolderEntry(std::string entry);
    Outcome ImportMessages();
    // Reads which source digests the import folder already holds.
    void LoadStoredDigests();
    void ImportOne(const std::string& value, const SourceEntry& entry, store::MapiUtils* utils);
    // A new message in the store folder of source folder `relative`, or in Deleted Items when
    // it is `trashed` (the folder looked up again when it or the data file changed).
    std::shared_ptr<store::Mail> NewMail(std::string relative, bool trashed);
    // The states the source's mail client kept, on the stored message.
    void SetMarks(store::MapiObject& object, uint32_t marks, store::MapiUtils& utils);
    // Counts the messages saved since the last look as converted once the session says they
    // are on the disk.
    void ConfirmCommitted();
    // The messages saved but not yet committed fail with the cause of the failed commit.
    void LoseUncommitted(const std::string& cause);
    void UpdateProgress();
    bool PollSkip();
    bool PollStop();
    void EndConversion();
    void CloseStore();

    // The store path of a relative source folder, "Inbox" and "Sent" at the first level mapped
    // onto the store's own folders.
    std::vector<std::string> MappedPieces(std::string relative) const;
    std::string FolderPath(const std::vector<std::string>& pieces) const;
    // The folder at `pieces` below the store's top, creating missing mail folders along the way
    // (at most one attempt per level).
    std::shared_ptr<store::Folder> ResolveOrCreate(const std::vector<std::string>& pieces);
    RunReport::FolderResult& Result();

    StatusWindow& window_;
    const ConversionJob& job_;
    ui::Shell& shell_;
    store::SessionFactory& factory_;
    Clock clock_;
    RunState& run_;
    RunEvents& events_;
    // The store folder of the source folder being imported, by its store path.
    std::shared_ptr<store::Folder> importFolder_;
    // The source digests the import folder holds, unless duplicates are kept.
    std::unordered_set<std::string> storedDigests_;
    std::string importFolderKey_;
    std::string importStorePath_;  // its store path below the top, "\"-joined
    // The digests the earlier files of the series hold (and those of a file that is since
    // full), by store folder path.
    std::map<std::string, std::vector<std::string>> seriesDigests_;
    int seriesIndex_ = 1;           // the data file written: 1 for NAME.pst, k for "NAME (k).pst"
    std::string displayBase_;       // the store's display name before the run stamp
    bool fileHasMessages_ = false;  // the data file written holds a message
    bool announceAgain_ = false;    // a new data file wants the coming files announced
    // The import folder before the current one, with its digests and keys.
    struct {
        std::shared_ptr<store::Folder> folder;
        std::unordered_set<std::string> digests;
        std::string key;
        std::string storePath;
    } parked_;
    SourceEntries entries_;
    // Saved message files not yet known to be on the disk, with what they lack.
    std::vector<RunReport::Warning> uncommitted_;
};

}  // namespace engine
