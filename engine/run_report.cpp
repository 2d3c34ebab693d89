#include "engine/status_window.h"

namespace engine {

int RunReport::Converted() const {
    int n = 0;
    for (const auto& f : folders) n += f.converted;
    return n;
}

int RunReport::Failed() const {
    int n = 0;
    for (const auto& f : folders) n += f.failed;
    return n;
}

int RunReport::Warned() const {
    int n = 0;
    for (const auto& f : folders) n += f.warned;
    return n;
}

int RunReport::AlreadyStored() const {
    int n = 0;
    for (const auto& f : folders) n += f.alreadyStored;
    return n;
}

RunOutcome RunReport::Outcome() const {
    bool failures = false, anything = false;
    for (const auto& f : folders) {
        if (f.outcome == FolderOutcome::Stopped || f.outcome == FolderOutcome::Cancelled)
            return RunOutcome::Stopped;
        failures |= f.failed > 0 || f.storeFailed || !f.unreadFolders.empty();
        anything |= f.outcome != FolderOutcome::NothingToConvert;
    }
    if (failures) return RunOutcome::ConvertedWithFailures;
    return anything ? RunOutcome::AllConverted : RunOutcome::NothingToConvert;
}

bool RunReport::Complete() const {
    int messageFiles = 0;
    for (const auto& f : folders) {
        if (f.outcome != FolderOutcome::Converted && f.outcome != FolderOutcome::NothingToConvert)
            return false;
        if (!f.unreadFolders.empty()) return false;
        messageFiles += f.messageFiles;
    }
    // A message file the data file already held counts as converted: it is there.
    return messageFiles > 0 && Failed() == 0 && Converted() + AlreadyStored() == messageFiles;
}

std::string RunReport::Headline() const {
    if (Complete()) return "";
    if (Converted() + AlreadyStored() == 0) return "Nothing was converted.";
    if (Outcome() == RunOutcome::Stopped) return "Conversion stopped.";
    if (Outcome() == RunOutcome::ConvertedWithFailures)
        return Failed() == 0 && FoldersNotConverted().empty() ? "Some folders could not be read."
                                                              : "Converted with failures.";
    return "Some folders were skipped.";
}

std::vector<RunReport::Failure> RunReport::UnreadFolders() const {
    std::vector<Failure> out;
    for (const auto& f : folders)
        out.insert(out.end(), f.unreadFolders.begin(), f.unreadFolders.end());
    return out;
}

std::vector<std::string> RunReport::FoldersNotConverted() const {
    std::vector<std::string> out;
    for (const auto& f : folders)
        if (f.storeFailed) out.push_back(f.source);
    return out;
}

}  // namespace engine
