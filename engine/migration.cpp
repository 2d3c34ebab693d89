#include "engine/migration.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "engine/keyed_queue.h"
#include "engine/path_routines.h"
#include "engine/run_stamp.h"
#include "engine/store_paths.h"
#include "engine/text_list.h"
#include "fs/console.h"
#include "fs/mod_files.h"
#include "fs/path_forms.h"

namespace engine {
namespace {

constexpr uint32_t kPrMessageFlags = 0x0E070003;
// Files announced to the reading thread at a time: each new batch costs the overlap of one
// message, and the batch's paths are all it keeps.
constexpr size_t kReadAheadBatch = 1024;
constexpr const char* kSpecialNames[] = {"Calendar", "Contacts",  "Emailed Contacts", "Tasks",
                                         "Sent",     "Notebook", "Conversations"};

std::tm LocalNow() { return fs::LocalTime(std::time(nullptr)); }

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Rounded to the nearest whole number, halves to even.
long RoundHalfEven(float value) { return std::lrint(value); }

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
      c_(window.controls),
      run_(window.run) {}

std::vector<std::string> Migration::SessionFailureLines() {
    return {"Outlook Session Creation Error !",
            "Check if Outlook is installed and configured.",
            "If Outlook 2013/2010 (64 Bit) is installed, then please try to re-install it as "
            "Outlook 2013/2010 (32 Bit).",
            "Here are steps to downgrade Outlook 2013/2010 to 32 Bit from 64 Bit Edition.",
            "docs/help/store-errors.html"};
}

bool Migration::IsMessageFile(const std::string& path) {
    std::string name = Lower(FileNameOf(path));
    return EndsWith(name, ".eml") || EndsWith(name, ".emlx") || name == "eml~1";
}

RunReport::FolderResult& Migration::Result() { return window_.report.folders.back(); }

void Migration::StartMigration(const std::string& folderName, const std::string& sourcePath) {
    window_.report.folders.push_back({});
    Result().source = sourcePath;
    Result().queued = window_.QueuedCount;
    run_.RunStamp = FormatRunStamp(clock_());

    // Target path: a failure here counts as a cancelled dialog.
    try {
        if (job_.SingleMode()) {
            auto chosen = shell_.SaveFileDialog("Outlook Data File(s) (*.pst)|*.pst",
                                                folderName + run_.RunStamp + ".pst");
            if (!chosen) {
                Result().skipped = true;
                window_.Unload();
                return;
            }
            run_.PstPath = *chosen;
        } else {
            run_.PstPath = Trim(job_.OutputFolder()) + fs::kPathSeparator + folderName + ".pst";
        }
    } catch (const std::exception&) {
        Result().skipped = true;
        window_.Unload();
        return;
    }
    if (run_.PstPath.empty()) return;
    Result().pstPath = run_.PstPath;

    shell_.Yield();
    c_.ProgressBar1.Min = 0;
    c_.ProgressBar1.Max = 100;
    c_.CmdStopMigration.Visible = true;
    c_.CmdStopMigration.Enabled = true;
    c_.CmdSkip.Enabled = true;
    shell_.Yield();
    shell_.Yield();

    try {
        run_.session = factory_.CreateSession();
        c_.LblCurrentDBX.Caption = "Outlook Session Created...";
        c_.CmdStartConversion.Enabled = false;
        run_.StoreDisplayName = folderName + " : Created - " + run_.RunStamp;
        run_.store = run_.session->LogonPstStore(Trim(run_.PstPath), store::kPstFormatUnicode,
                                                 run_.StoreDisplayName);
        run_.StoreEntryId = run_.store->EntryID();
        run_.store->ValidateIPMTree();
        run_.InboxName = run_.session->GetStoreFromID(run_.StoreEntryId)
                             ->GetDefaultFolder(store::kFolderInbox)
                             ->Name();
        run_.SentName = run_.session->GetStoreFromID(run_.StoreEntryId)
                            ->GetDefaultFolder(store::kFolderSentMail)
                            ->Name();
        c_.LblCurrentDBX.Caption = "Reading Folder(s)...";
        run_.RootPath = sourcePath;
        ReadFolderList();
    } catch (const std::exception& e) {
        SessionFailure(DescriptionOf(e));
        return;
    }

    CreateFolders();
    Outcome outcome = ImportMessages();
    if (outcome == Outcome::Stopped) {
        // Nothing converted is lost: the data file is committed and closed before returning.
        CloseStore();
        if (window_.IsOpen()) window_.Unload();
        return;
    }
    EndConversion();
}

void Migration::SessionFailure(const std::string& cause) {
    Result().storeFailed = true;
    Result().storeError = cause;
    std::string text;
    for (const auto& line : SessionFailureLines()) text += line + "\r\n";
    text += "Cause: " + cause;
    shell_.MessageBox(text, "Outlook Error", ui::MsgBoxStyle::InformationOk);
    // Release the file at once instead of keeping it locked for the rest of the run.
    if (run_.session) {
        try {
            run_.session->Logoff();
        } catch (const std::exception&) {
        }
    }
    run_.store.reset();
    run_.session.reset();
}

void Migration::ReadFolderList() {
    c_.LblCurrentDBX.Caption = "Reading Folder(s)...";
    // Each conversion builds its own list, so one mailbox's folders never appear in the next.
    run_.FolderList.clear();
    for (size_t i = 0; i < FolderQueue().Count(); ++i) {
        shell_.Yield();
        const std::string q(FolderQueue().Value(i));
        if (!fs::FolderExists(q)) continue;
        std::string p = ToStorePath(RemoveAll(q, run_.RootPath));
        if (!p.empty() && p.back() == '\\') p.pop_back();
        if (!p.empty()) run_.FolderList.push_back(p);
        c_.LblCurrentDBX.Caption = "Reading Folder(s)... " + p;
    }
    if (!run_.FolderList.empty())
        SortTextRange(run_.FolderList, 0, long(run_.FolderList.size()) - 1, shell_);
    shell_.Yield();
    RemoveRepeats(run_.FolderList, shell_);
    shell_.Yield();
    c_.LblCurrentDBX.Caption = "Creating Outlook Folders...";
}

void Migration::CreateFolders() {
    for (const std::string& entry : run_.FolderList) {
        try {
            CreateFolderEntry(entry);
        } catch (const std::exception&) {
            // A folder that cannot be made is made on demand when a message needs it.
        }
    }
}

std::vector<std::string> Migration::MappedPieces(std::string relative) const {
    std::vector<std::string> pieces = SplitStorePath(relative);
    if (!pieces.empty()) {
        if (pieces[0] == "Inbox") pieces[0] = run_.InboxName;
        else if (pieces[0] == "Sent") pieces[0] = run_.SentName;
    }
    return pieces;
}

std::string Migration::FolderPath(const std::vector<std::string>& pieces) const {
    std::string path = "\\\\" + run_.StoreDisplayName;
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
            if (EndsWith(e, std::string("\\") + special)) return;
    }
    // A first-level Inbox or Sent is the store's own folder.
    if (pieces.size() == 1 && (pieces[0] == "Inbox" || pieces[0] == "Sent")) return;

    std::vector<std::string> mapped = MappedPieces(e);
    std::string leaf = mapped.back();
    mapped.pop_back();
    std::shared_ptr<store::Folder> parent =
        mapped.empty() ? run_.session->GetStores().GetStoreFromID(run_.StoreEntryId)->IPMRootFolder()
                       : ResolveOrCreate(mapped);
    store::Folders& children = parent->SubFolders();
    for (int i = 1, n = children.Count(); i <= n; ++i) {
        shell_.Yield();
        if (children.Item(i)->Name() == leaf) return;
    }
    shell_.Yield();
    children.Add(leaf, store::kFolderInbox);
    shell_.Yield();
    c_.LblCurrentDBX.Caption = "Creating Outlook Folders... " + leaf;
}

Migration::Outcome Migration::ImportMessages() {
    run_.MessageIndex = 1;
    // The reading thread learns the coming files a batch at a time rather than all at once, so
    // no second copy of the whole queue is held.
    size_t announced = 0;  // queue entries handed on so far
    auto announce = [&] {
        std::vector<std::string> files;
        for (; announced < MessageQueue().Count() && files.size() < kReadAheadBatch; ++announced) {
            std::string path(MessageQueue().Value(announced));
            if (IsMessageFile(path)) files.push_back(std::move(path));
        }
        if (files.empty()) return;
        try {
            run_.session->ExpectImports(std::move(files));
        } catch (const std::exception&) {
            // Without reading ahead every message is read when it is imported.
        }
    };
    for (size_t i = 0; i < MessageQueue().Count(); ++i) {
        if (i == announced) announce();
        const std::string file(MessageQueue().Value(i));
        if (IsMessageFile(file)) ImportOne(file);
        UpdateProgress();
        // Closing the window while it converts acts as a confirmed stop.
        if (!window_.IsOpen()) return Outcome::Stopped;
        if (PollSkip()) return Outcome::Skipped;
        if (PollStop()) return Outcome::Stopped;
    }
    return Outcome::Finished;
}

void Migration::ImportOne(const std::string& file) {
    auto fail = [&](const std::string& reason) {
        Result().failed++;
        window_.report.failures.push_back({file, reason});
    };
    shell_.Yield();
    c_.LblCurrentDBX.Caption = "Converting Messages... from (" + file + ")";

    std::string r = ToStorePath(RemoveAll(DirectoryOf(file), run_.RootPath));
    if (size_t bang = r.find('!'); bang != std::string::npos) {
        r = Trim(r);
        r = r.substr(0, r.find('!')) + "\\";
        shell_.Yield();
    }
    std::vector<std::string> pieces = MappedPieces(r);

    std::shared_ptr<store::Mail> mail;
    try {
        std::shared_ptr<store::Folder> folder;
        try {
            folder = run_.session->GetFolderFromPath(FolderPath(pieces) + "\\");
        } catch (const std::exception&) {
            folder = ResolveOrCreate(pieces);
        }
        mail = folder->MailItems().Add(store::kMailItem);
    } catch (const std::exception& e) {
        fail(DescriptionOf(e));
        return;
    }
    shell_.Yield();
    try {
        mail->Import(file, store::kImportRfc822);
    } catch (const std::exception& e) {
        fail(DescriptionOf(e));  // an unreadable file or no message at all: nothing is saved
        return;
    }
    try {
        auto utils = factory_.CreateMapiUtils();
        store::MapiObject& object = mail->MAPIOBJECT();
        utils->HrSetOneProp(object, kPrMessageFlags, object.GetInt32(kPrMessageFlags, 1), true);
    } catch (const std::exception&) {
    }
    shell_.Yield();
    try {
        mail->Save();
        Result().converted++;
    } catch (const std::exception& e) {
        fail(DescriptionOf(e));
    }
    c_.CmdStartConversion.Enabled = false;
}

void Migration::UpdateProgress() {
    const int32_t index = run_.MessageIndex;
    c_.FrameConversion.Caption = "Reading Messages && Email Metadata - (" + std::to_string(index) +
                                 " of " + std::to_string(window_.QueuedCount) + ") File(s)";
    if (window_.QueuedCount > 0)
        c_.ProgressBar1.Value = float(double(index) / double(window_.QueuedCount) * 100.0);
    run_.MessageIndex = index + 1;
    c_.lblProgress.Caption = std::to_string(RoundHalfEven(c_.ProgressBar1.Value)) + "% Complete";
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
    c_.lblProgress.Caption = "Skipped... at " + c_.lblProgress.Caption;
    c_.lblCount1.Caption = "Checking Next Folder...";
    Result().skipped = true;
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
    c_.lblProgress.Caption = "Stopped... at " + c_.lblProgress.Caption;
    c_.lblCount1.Caption = "Stopped...";
    Result().skipped = true;
    return true;
}

void Migration::CloseStore() {
    if (run_.session) {
        try {
            run_.session->Logoff();
        } catch (const std::exception& e) {
            // Messages counted as converted did not reach the file after all.
            Result().storeFailed = true;
            Result().storeError = DescriptionOf(e);
        }
    }
    run_.store.reset();
    run_.session.reset();
}

void Migration::EndConversion() {
    MessageQueue().Clear();
    FolderQueue().Clear();
    run_.RootPath.clear();
    shell_.Yield();
    CloseStore();
    c_.CmdStartConversion.Enabled = true;
}

}  // namespace engine
