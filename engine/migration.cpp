#include "engine/migration.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "engine/keyed_queue.h"
#include "engine/path_routines.h"
#include "engine/run_stamp.h"
#include "engine/store_paths.h"
#include "engine/text_list.h"
#include "fs/console.h"
#include "fs/mod_files.h"
#include "fs/path_forms.h"
#include "fs/text.h"
#include "fs/utf8_path.h"
#include "pst/messaging/reproducible.h"
#include "store/mbox_item.h"

namespace engine {
namespace {

constexpr uint32_t kPrMessageFlags = 0x0E070003;
// Files announced to the reading thread at a time: each new batch costs the overlap of one
// message, and the batch's paths are all it keeps.
constexpr size_t kReadAheadBatch = 1024;
constexpr const char* kSpecialNames[] = {"Calendar", "Contacts", "Emailed Contacts", "Tasks",
                                         "Sent",     "Notebook", "Conversations"};

std::tm LocalNow() {
    const auto fixed = pst::messaging::FixedEpoch();
    return fs::LocalTime(fixed ? std::time_t(*fixed) : std::time(nullptr));
}

std::string DescriptionOf(const std::exception& e) {
    if (auto* com = dynamic_cast<const store::ComError*>(&e)) return com->Description();
    return e.what();
}

}  // namespace

Migration::Migration(StatusWindow& window, const ConversionJob& job, ui::Shell& shell,
                     store::SessionFactory& factory, Clock clock)
    : window_(window),
      job_(job),
      shell_(shell),
      factory_(factory),
      clock_(clock ? std::move(clock) : Clock(LocalNow)),
      run_(window.run),
      events_(window.events) {}

std::vector<std::string> Migration::SessionFailureLines(const ConversionJob& job) {
    return {"Outlook Session Creation Error !", "The data file could not be created or opened.",
            job.HelpLocation(kStoreErrorsPage)};
}

bool Migration::IsMessageFile(const std::string& path) {
    const std::string name = FileNameOf(path);
    return fs::EndsWithNoCase(name, ".eml") || fs::EndsWithNoCase(name, ".emlx") ||
           fs::EqualsNoCase(name, "eml~1");
}

RunReport::FolderResult& Migration::Result() {
    return window_.report.folders.back();
}

void Migration::Ignored(const std::string& what, const std::string& reason) {
    window_.report.ignored.push_back({what, reason});
    events_.ErrorIgnored(what, reason);
}

void Migration::Finished(FolderOutcome outcome) {
    Result().outcome = outcome;
    events_.FolderFinished(outcome, Result().storeError);
}

void Migration::LoadStoredDigests() {
    storedDigests_.clear();
    if (job_.KeepsDuplicates()) return;
    auto earlier = seriesDigests_.find(importStorePath_);
    if (earlier != seriesDigests_.end())
        storedDigests_.insert(earlier->second.begin(), earlier->second.end());
    try {
        for (auto& digest : importFolder_->SourceDigests())
            storedDigests_.insert(std::move(digest));
    } catch (const std::exception& e) {
        Ignored(run_.PstPath,
                "messages already in the data file are not looked for: " + DescriptionOf(e));
    }
}

void Migration::StartMigration(const std::string& folderName, const std::string& sourcePath) {
    window_.report.folders.push_back({});
    Result().source = sourcePath;
    Result().linkedFrom = fs::LinkTarget(sourcePath).value_or("");
    Result().queued = window_.QueuedCount;
    Result().unreadFolders = window_.scan.unreadFolders;
    for (const auto& entry : window_.scan.messages)
        if (entries_.IsMessage(entry.value)) Result().messageFiles++;
    run_.RunStamp = FormatRunStamp(clock_());

    // Target path: a failure here counts as a cancelled dialog.
    try {
        if (job_.SingleMode()) {
            auto chosen = shell_.SaveFileDialog("Outlook Data File(s) (*.pst)|*.pst",
                                                folderName + run_.RunStamp + ".pst");
            if (!chosen) {
                Finished(FolderOutcome::Cancelled);
                window_.Unload();
                return;
            }
            run_.PstPath = *chosen;
        } else {
            run_.PstPath = Trim(job_.OutputFolder()) + fs::kPathSeparator + folderName + ".pst";
        }
    } catch (const std::exception& e) {
        Ignored(sourcePath, "no data file could be chosen: " + DescriptionOf(e));
        Finished(FolderOutcome::Cancelled);
        window_.Unload();
        return;
    }
    if (run_.PstPath.empty()) {
        Finished(FolderOutcome::Cancelled);
        return;
    }
    Result().pstPath = run_.PstPath;

    shell_.Yield();
    events_.FolderStarted(sourcePath, run_.PstPath);
    shell_.Yield();
    shell_.Yield();

    try {
        run_.session = factory_.CreateSession();
        events_.StepChanged(RunStep::StoreOpened, "");
        displayBase_ = folderName;
        FindSeries();
        OpenStore();
        events_.StepChanged(RunStep::ReadingFolders, "");
        run_.RootPath = sourcePath;
        ReadFolderList();
    } catch (const std::exception& e) {
        SessionFailure(DescriptionOf(e));
        Finished(FolderOutcome::StoreFailed);
        return;
    }
    Result().storeOpened = true;
    uncommitted_.clear();

    CreateFolders();
    Outcome outcome = ImportMessages();
    if (outcome == Outcome::Stopped) {
        // Nothing converted is lost: the data file is committed and closed before returning.
        CloseStore();
        Finished(Result().storeFailed ? FolderOutcome::StoreFailed : FolderOutcome::Stopped);
        if (window_.IsOpen()) window_.Unload();
        return;
    }
    EndConversion();
    if (Result().storeFailed)
        Finished(FolderOutcome::StoreFailed);
    else
        Finished(outcome == Outcome::Skipped ? FolderOutcome::Skipped : FolderOutcome::Converted);
}

void Migration::SessionFailure(const std::string& cause) {
    Result().storeFailed = true;
    Result().storeError = cause;
    std::string text;
    for (const auto& line : SessionFailureLines(job_)) text += line + "\r\n";
    text += "Cause: " + cause;
    shell_.MessageBox(text, "Outlook Error", ui::MsgBoxStyle::InformationOk);
    // Release the file at once instead of keeping it locked for the rest of the run.
    if (run_.session) {
        try {
            run_.session->Logoff();
        } catch (const std::exception& e) {
            Ignored(run_.PstPath, "the data file was not closed cleanly: " + DescriptionOf(e));
        }
    }
    run_.store.reset();
    run_.session.reset();
}

void Migration::OpenStore() {
    run_.StoreDisplayName = displayBase_ +
                            (seriesIndex_ > 1 ? " (" + std::to_string(seriesIndex_) + ")" : "") +
                            " : Created - " + run_.RunStamp;
    const std::string path = Trim(run_.PstPath);
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(fs::PathFromUtf8(path), ec);
    fileHasMessages_ = !ec && bytes > 0;
    run_.store = run_.session->LogonPstStore(path, store::kPstFormatUnicode, run_.StoreDisplayName);
    run_.StoreEntryId = run_.store->EntryID();
    run_.store->ValidateIPMTree();
    run_.InboxName = run_.session->GetStoreFromID(run_.StoreEntryId)
                         ->GetDefaultFolder(store::kFolderInbox)
                         ->Name();
    run_.SentName = run_.session->GetStoreFromID(run_.StoreEntryId)
                        ->GetDefaultFolder(store::kFolderSentMail)
                        ->Name();
}

void Migration::FindSeries() {
    seriesIndex_ = 1;
    seriesDigests_.clear();
    const std::string first = Trim(run_.PstPath);
    while (fs::FileExists(ContinuationPath(first, seriesIndex_ + 1)))
        Result().continuations.push_back(ContinuationPath(first, ++seriesIndex_));
    if (seriesIndex_ == 1) return;
    // A repeated run goes on in the last file; what the full ones hold is not stored again.
    for (int k = 1; k < seriesIndex_; ++k)
        ReadSeriesDigests(k == 1 ? first : ContinuationPath(first, k));
    run_.PstPath = Result().continuations.back();
}

void Migration::ReadSeriesDigests(const std::string& path) {
    if (job_.KeepsDuplicates()) return;
    try {
        for (auto& [folder, digests] : run_.session->SourceDigestsOf(path)) {
            auto& known = seriesDigests_[folder];
            known.insert(known.end(), std::make_move_iterator(digests.begin()),
                         std::make_move_iterator(digests.end()));
        }
    } catch (const std::exception& e) {
        Ignored(path, "messages already in this data file are not looked for: " + DescriptionOf(e));
    }
}

bool Migration::ContinueInNextFile() {
    CloseStore();
    if (Result().storeFailed) return false;
    const std::string full = run_.PstPath;
    run_.PstPath = ContinuationPath(Trim(Result().pstPath), ++seriesIndex_);
    Result().continuations.push_back(run_.PstPath);
    events_.StepChanged(RunStep::StoreContinued, run_.PstPath);
    try {
        run_.session = factory_.CreateSession();
        // What the full file holds (from this run or an earlier one) still counts as stored.
        ReadSeriesDigests(full);
        OpenStore();
    } catch (const std::exception& e) {
        SessionFailure(DescriptionOf(e));
        return false;
    }
    announceAgain_ = true;
    return true;
}

void Migration::ReadFolderList() {
    events_.StepChanged(RunStep::ReadingFolders, "");
    // Each conversion builds its own list, so one mailbox's folders never appear in the next.
    run_.FolderList.clear();
    const KeyedQueue& folders = window_.scan.folders;
    for (size_t i = 0; i < folders.Count(); ++i) {
        shell_.Yield();
        const std::string q(folders.Value(i));
        if (!fs::FolderExists(q) || entries_.IsMaildirPart(q)) continue;
        std::string p =
            MailFolderPath(ToStorePath(RemoveAll(entries_.MailFolder(q), run_.RootPath)));
        if (!p.empty() && p.back() == '\\') p.pop_back();
        if (!p.empty()) run_.FolderList.push_back(p);
        events_.StepChanged(RunStep::FolderRead, p);
    }
    if (!run_.FolderList.empty())
        SortTextRange(run_.FolderList, 0, long(run_.FolderList.size()) - 1, shell_);
    shell_.Yield();
    RemoveRepeats(run_.FolderList, shell_);
    shell_.Yield();
    events_.StepChanged(RunStep::CreatingFolders, "");
}

void Migration::CreateFolders() {
    for (const std::string& entry : run_.FolderList) {
        try {
            CreateFolderEntry(entry);
        } catch (const std::exception& e) {
            // Tried again when a message needs it; its messages fail if it still cannot be made.
            Ignored(entry, "the folder could not be created: " + DescriptionOf(e));
        }
    }
}

std::vector<std::string> Migration::MappedPieces(std::string relative) const {
    std::vector<std::string> pieces = SplitStorePath(relative);
    if (!pieces.empty()) {
        if (pieces[0] == "Inbox")
            pieces[0] = run_.InboxName;
        else if (pieces[0] == "Sent")
            pieces[0] = run_.SentName;
    }
    return pieces;
}

std::string Migration::FolderPath(const std::vector<std::string>& pieces) const {
    std::string path = "\\\\" + ToStorePathPiece(run_.StoreDisplayName);
    for (const auto& p : pieces) path += "\\" + p;
    return path;
}

std::shared_ptr<store::Folder> Migration::ResolveOrCreate(const std::vector<std::string>& pieces) {
    try {
        return run_.session->GetFolderFromPath(FolderPath(pieces));
    } catch (const std::exception&) {
    }
    std::shared_ptr<store::Folder> folder = run_.session->GetFolderFromPath(FolderPath({}));
    std::vector<std::string> prefix;
    for (const auto& piece : pieces) {
        prefix.push_back(piece);
        try {
            folder = run_.session->GetFolderFromPath(FolderPath(prefix));
        } catch (const std::exception&) {
            shell_.Yield();
            folder = folder->SubFolders().Add(piece, store::kFolderInbox);
            Result().foldersCreated++;
        }
    }
    return folder;
}

void Migration::CreateFolderEntry(std::string e) {
    if (e.empty() || e.find('!') != std::string::npos) return;
    shell_.Yield();
    if (size_t drive = e.find(":\\"); drive != std::string::npos) {
        e = e.substr(drive + 2);
        if (size_t second = e.find(":\\"); second != std::string::npos) e = e.substr(0, second);
    }
    std::vector<std::string> pieces = SplitStorePath(e);
    if (pieces.empty()) return;
    bool topLevel = e.front() != '\\' && pieces.size() == 1;
    if (topLevel) {
        if (e == "Emailed Contacts") return;
    } else {
        if (e == "\\Inbox") return;
        for (const char* special : kSpecialNames)
            if (fs::EndsWith(e, std::string("\\") + special)) return;
    }
    // A first-level Inbox or Sent is the store's own folder.
    if (pieces.size() == 1 && (pieces[0] == "Inbox" || pieces[0] == "Sent")) return;

    std::vector<std::string> mapped = MappedPieces(e);
    std::string leaf = mapped.back();
    mapped.pop_back();
    std::shared_ptr<store::Folder> parent =
        mapped.empty()
            ? run_.session->GetStores().GetStoreFromID(run_.StoreEntryId)->IPMRootFolder()
            : ResolveOrCreate(mapped);
    store::Folders& children = parent->SubFolders();
    for (int i = 1, n = children.Count(); i <= n; ++i) {
        shell_.Yield();
        if (children.Item(i)->Name() == leaf) return;
    }
    shell_.Yield();
    children.Add(leaf, store::kFolderInbox);
    Result().foldersCreated++;
    shell_.Yield();
    events_.StepChanged(RunStep::FolderCreated, leaf);
}

Migration::Outcome Migration::ImportMessages() {
    run_.MessageIndex = 1;
    importFolder_.reset();
    parked_ = {};
    // The reading threads learn the coming files a batch at a time rather than all at once, so
    // no second copy of the whole queue is held; the next batch is handed on half a batch
    // before they reach its end, so that they never run dry.
    const KeyedQueue& queue = window_.scan.messages;
    size_t announced = 0;  // queue entries handed on so far
    auto announce = [&] {
        std::vector<std::string> files;
        for (; announced < queue.Count() && files.size() < kReadAheadBatch; ++announced) {
            std::string value(queue.Value(announced));
            if (entries_.IsMessage(value)) files.push_back(std::move(value));
        }
        if (files.empty()) return;
        try {
            run_.session->ExpectImports(std::move(files));
        } catch (const std::exception& e) {
            // Without reading ahead every message is read when it is imported.
            Ignored(run_.PstPath, "reading ahead is off: " + DescriptionOf(e));
        }
    };
    // One helper for the whole folder; without one, messages keep the flags they were read with.
    std::shared_ptr<store::MapiUtils> utils;
    try {
        utils = factory_.CreateMapiUtils();
    } catch (const std::exception& e) {
        Ignored(run_.PstPath, "message flags are not set: " + DescriptionOf(e));
    }
    announceAgain_ = false;
    for (size_t i = 0; i < queue.Count(); ++i) {
        if (announceAgain_) {
            // A new data file's session reads ahead from here on.
            announced = i;
            announceAgain_ = false;
        }
        if (announced < queue.Count() && announced <= i + kReadAheadBatch / 2) announce();
        const std::string value(queue.Value(i));
        const SourceEntry entry = entries_.Classify(value);
        if (entry.IsMessage()) ImportOne(value, entry, utils.get());
        UpdateProgress();
        // A data file that could not be written takes nothing more.
        if (Result().storeFailed) return Outcome::Finished;
        // Closing the window while it converts acts as a confirmed stop.
        if (!window_.IsOpen()) return Outcome::Stopped;
        if (PollSkip()) return Outcome::Skipped;
        if (PollStop()) return Outcome::Stopped;
    }
    return Outcome::Finished;
}

void Migration::ImportOne(const std::string& value, const SourceEntry& entry,
                          store::MapiUtils* utils) {
    const std::string& file = entry.shown;
    auto fail = [&](const std::string& reason) {
        Result().failed++;
        window_.report.failures.push_back({file, reason});
        events_.FileFailed(file, reason);
    };
    // Runs a step that may commit: a failure fails the file, and a failed commit took the
    // messages saved before it along, so the data file takes no more.
    auto storing = [&](auto&& step) {
        try {
            step();
            return true;
        } catch (const store::ComError& e) {
            fail(e.Description());
            if (e.Number() == store::kErrWriteFault) {
                LoseUncommitted(e.Description());
                Result().storeFailed = true;
                Result().storeError = e.Description();
            }
        } catch (const std::exception& e) {
            fail(DescriptionOf(e));
        }
        return false;
    };
    shell_.Yield();
    events_.StepChanged(RunStep::ConvertingMessage, file);

    std::string r = MailFolderPath(ToStorePath(RemoveAll(entry.folder, run_.RootPath)));
    if (size_t bang = r.find('!'); bang != std::string::npos) {
        r = Trim(r);
        r = r.substr(0, r.find('!')) + "\\";
        shell_.Yield();
    }

    std::shared_ptr<store::Mail> mail;
    try {
        mail = NewMail(r, entry.trashed);
        shell_.Yield();
        mail->Import(value, store::kImportRfc822);
    } catch (const std::exception& e) {
        fail(DescriptionOf(e));  // an unreadable file or no message at all: nothing is saved
        return;
    }
    // The same bytes in the same folder again (a repeated or resumed run): not stored twice.
    const std::string digest = job_.KeepsDuplicates() ? std::string() : mail->SourceDigest();
    if (!digest.empty() && storedDigests_.count(digest)) {
        Result().alreadyStored++;
        events_.FileAlreadyStored(file);
        return;
    }
    // A file that holds a message already takes no message that would pass the size limit.
    if (const uint64_t cap = job_.MaxDataFileSize(); cap > 0 && fileHasMessages_) {
        bool full = false;
        if (!storing([&] { full = mail->WouldPassSize(cap); })) return;
        ConfirmCommitted();
        if (full) {
            if (!ContinueInNextFile()) {
                fail("not written: " + Result().storeError);
                return;
            }
            try {
                mail = NewMail(r, entry.trashed);
                mail->Import(value, store::kImportRfc822);
            } catch (const std::exception& e) {
                fail(DescriptionOf(e));
                return;
            }
        }
    }
    if (utils) {
        try {
            store::MapiObject& object = mail->MAPIOBJECT();
            utils->HrSetOneProp(object, kPrMessageFlags, object.GetInt32(kPrMessageFlags, 1), true);
            if (entry.marks & store::MboxItem::kKnown) SetMarks(object, entry.marks, *utils);
        } catch (const std::exception& e) {
            Ignored(file, "the message flags were not set: " + DescriptionOf(e));
        }
    }
    shell_.Yield();
    if (!storing([&] { mail->Save(); })) return;
    if (!digest.empty()) storedDigests_.insert(digest);
    fileHasMessages_ = true;
    uncommitted_.push_back({file, mail->Warnings()});
    ConfirmCommitted();
}

std::shared_ptr<store::Mail> Migration::NewMail(std::string r, bool trashed) {
    // The queue holds each source folder's files together: its store folder is looked up when
    // the source folder changes, not for every message.
    // A trashed Maildir message goes to the store's Deleted Items (a key no path can be).
    if (trashed) r = std::string(1, '\0');
    // Trashed messages come between the others of their Maildir: the folder left is kept aside
    // with its digests, so going back to it costs no second reading of them.
    if (importFolder_ && r != importFolderKey_) {
        std::swap(importFolder_, parked_.folder);
        std::swap(storedDigests_, parked_.digests);
        std::swap(importFolderKey_, parked_.key);
        std::swap(importStorePath_, parked_.storePath);
    }
    if (!importFolder_ || r != importFolderKey_) {
        importFolder_.reset();
        std::vector<std::string> pieces =
            trashed ? std::vector<std::string>{run_.session->GetStoreFromID(run_.StoreEntryId)
                                                   ->GetDefaultFolder(store::kFolderDeletedItems)
                                                   ->Name()}
                    : MappedPieces(r);
        try {
            importFolder_ = run_.session->GetFolderFromPath(FolderPath(pieces) + "\\");
        } catch (const std::exception&) {
            importFolder_ = ResolveOrCreate(pieces);
        }
        importFolderKey_ = r;
        importStorePath_ = JoinStorePath(pieces);
        LoadStoredDigests();
    }
    return importFolder_->MailItems().Add(store::kMailItem);
}

void Migration::SetMarks(store::MapiObject& object, uint32_t marks, store::MapiUtils& utils) {
    using store::MboxItem;
    constexpr uint32_t kMsgFlagRead = 0x1;
    constexpr uint32_t kPrIconIndex = 0x10800003;
    constexpr uint32_t kPrLastVerbExecuted = 0x10810003;
    constexpr uint32_t kPrFlagStatus = 0x10900003;
    constexpr uint32_t kPrFollowupIcon = 0x10950003;
    const bool read = marks & MboxItem::kRead;
    const int32_t flags = object.GetInt32(kPrMessageFlags, 1);
    utils.HrSetOneProp(object, kPrMessageFlags, read ? flags | kMsgFlagRead : flags & ~kMsgFlagRead,
                       true);
    int32_t icon = read ? 0x100 : 0x101;
    if (marks & (MboxItem::kReplied | MboxItem::kForwarded)) {
        const bool replied = marks & MboxItem::kReplied;
        utils.HrSetOneProp(object, kPrLastVerbExecuted, replied ? 102 : 104, true);
        icon = replied ? 0x105 : 0x106;
    }
    utils.HrSetOneProp(object, kPrIconIndex, icon, true);
    if (marks & MboxItem::kFlagged) {
        utils.HrSetOneProp(object, kPrFlagStatus, 2, true);
        utils.HrSetOneProp(object, kPrFollowupIcon, 6, true);
    }
}

void Migration::ConfirmCommitted() {
    if (!run_.session || run_.session->UncommittedMessages() > 0) return;
    for (RunReport::Warning& saved : uncommitted_) {
        Result().converted++;
        if (saved.warnings.empty()) continue;
        Result().warned++;
        events_.FileWarned(saved.file, saved.warnings);
        window_.report.warnings.push_back(std::move(saved));
    }
    uncommitted_.clear();
}

void Migration::LoseUncommitted(const std::string& cause) {
    for (const RunReport::Warning& saved : uncommitted_) {
        const std::string reason = "not written to the data file: " + cause;
        Result().failed++;
        window_.report.failures.push_back({saved.file, reason});
        events_.FileFailed(saved.file, reason);
    }
    uncommitted_.clear();
}

void Migration::UpdateProgress() {
    const int32_t index = run_.MessageIndex;
    run_.MessageIndex = index + 1;
    events_.FileDone(index, window_.QueuedCount);
}

bool Migration::PollSkip() {
    if (!window_.SkipRequested) return false;
    auto answer = shell_.MessageBox("Do you really want to \"Skip\" conversion of this folder ?",
                                    "Confirm Skip", ui::MsgBoxStyle::YesNo);
    if (answer != ui::MsgBoxResult::Yes) {
        window_.SkipRequested = false;
        return false;
    }
    shell_.Yield();
    return true;
}

bool Migration::PollStop() {
    if (!window_.StopRequested) return false;
    auto answer = shell_.MessageBox(
        "This action will STOP complete conversion process.\r\n"
        "Do you really want to \"STOP\" on-going conversion ?",
        "Confirm Stop", ui::MsgBoxStyle::YesNo);
    if (answer != ui::MsgBoxResult::Yes) {
        window_.StopRequested = false;
        return false;
    }
    shell_.Yield();
    return true;
}

void Migration::CloseStore() {
    importFolder_.reset();
    parked_ = {};
    if (run_.session) {
        try {
            run_.session->Logoff();
            ConfirmCommitted();
        } catch (const std::exception& e) {
            LoseUncommitted(DescriptionOf(e));
            Result().storeFailed = true;
            Result().storeError = DescriptionOf(e);
        }
    }
    run_.store.reset();
    run_.session.reset();
}

void Migration::EndConversion() {
    window_.scan.Clear();
    run_.RootPath.clear();
    shell_.Yield();
    CloseStore();
}

}  // namespace engine
