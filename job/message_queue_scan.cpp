#include "job/message_queue_scan.h"

#include <optional>
#include <vector>

#include "engine/source_entries.h"
#include "fs/mod_files.h"
#include "fs/path_forms.h"
#include "fs/text.h"
#include "mime/mbox.h"
#include "store/mbox_item.h"

namespace job {
namespace {

bool IsDots(const std::string& n) {
    return n == "." || n == "..";
}

struct Visit {
    std::string folder;                   // ends with the separator
    std::vector<std::string> subfolders;  // names found in the subfolder pass, in listing order
    size_t next = 0;
    std::optional<fs::FileIdentity> identity;
};

// Message files and the files mail clients keep beside their mbox files are no mbox; any
// other name may be.
bool MayBeMbox(const std::string& name) {
    for (const char* other : {".eml", ".emlx", ".msf", ".dat", ".json", ".html", ".plist"})
        if (fs::EndsWithNoCase(name, other)) return false;
    return true;
}

// Queues each message of an mbox file in its place; false when the file is no mbox (its first
// line does not start with "From ") and is queued as a file like any other.
bool QueueMbox(const std::string& path, int32_t& fileCounter, engine::ScanResult& result,
               engine::RunObserver& observer, ui::Shell& shell) {
    if (!mime::LooksLikeMbox(path)) return false;
    bool any = false;
    const std::string error = mime::ScanMbox(path, [&](const mime::MboxMessage& m) {
        shell.Yield();
        store::MboxItem item{path, m.ordinal, m.offset, m.length, 0};
        if (m.marks.known) {
            using store::MboxItem;
            item.marks = MboxItem::kKnown | (m.marks.read ? MboxItem::kRead : 0) |
                         (m.marks.replied ? MboxItem::kReplied : 0) |
                         (m.marks.forwarded ? MboxItem::kForwarded : 0) |
                         (m.marks.flagged ? MboxItem::kFlagged : 0) |
                         (m.marks.deleted ? MboxItem::kDeleted : 0);
        }
        result.messages.Add(item.Locator(), "K" + std::to_string(fileCounter));
        observer.ScanProgress(fileCounter);
        ++fileCounter;
        any = true;
    });
    // Its messages cannot be found, let alone converted: the run says so, as for a folder.
    if (!error.empty()) result.unreadFolders.push_back({path, error});
    return any || !error.empty();
}

// The subfolder pass and the file pass of one folder; returns the subfolder names.
std::vector<std::string> ListFolder(const std::string& folder, const std::string& pattern,
                                    int32_t& fileCounter, int32_t& folderCounter,
                                    engine::ScanResult& result, engine::RunObserver& observer,
                                    ui::Shell& shell) {
    std::vector<std::string> names;
    fs::FileFindRecord record;
    if (fs::FindFirstEntry(folder + "*", record) != fs::kInvalidHandle) {
        do {
            shell.Yield();
            std::string n = record.FileName;
            if (IsDots(n)) continue;
            shell.Yield();
            // The listing's own attributes: asking the system again per entry cost as much as
            // the listing. A folder removed since is reported when its own listing fails.
            if (record.Attributes & fs::kAttrDirectory) {
                shell.Yield();
                names.push_back(n);
                result.folders.Add(folder + n, "Z" + std::to_string(folderCounter));
                ++folderCounter;
            }
        } while (fs::FindNextEntry(record));
    } else if (!record.Error.empty()) {
        // Its files cannot be found either: the run must say so rather than pass it as empty.
        std::string shown = folder;
        if (shown.size() > 1) shown.pop_back();  // the separator the walk added
        result.unreadFolders.push_back({shown, record.Error});
        return names;
    }

    // A Maildir's message files are messages whatever their first line.
    engine::SourceEntries entries;
    const bool maildirPart = entries.IsMaildirPart(folder);
    fs::FileFindRecord files;
    if (fs::FindFirstEntry(folder + pattern, files) != fs::kInvalidHandle) {
        shell.Yield();
        do {
            shell.Yield();
            std::string n = files.FileName;
            // Asked again rather than taken from the listing: on Windows the listing still
            // shows a file removed since, which then reads as "no attributes" and is passed over.
            uint32_t attributes = fs::GetPathAttributes(folder + n);
            if (!IsDots(n) && (attributes & fs::kAttrDirectory) == 0) {
                shell.Yield();
                if (!maildirPart && MayBeMbox(n) &&
                    QueueMbox(folder + n, fileCounter, result, observer, shell))
                    continue;
                result.messages.Add(folder + n, "K" + std::to_string(fileCounter));
                observer.ScanProgress(fileCounter);
                ++fileCounter;
            }
        } while (fs::FindNextEntry(files));
    }
    return names;
}

bool OnCurrentWalk(const std::vector<Visit>& walk, const std::optional<fs::FileIdentity>& id) {
    if (!id) return false;
    for (const Visit& v : walk)
        if (v.identity == id) return true;
    return false;
}

}  // namespace

void BuildMessageQueue(std::string& folder, const std::string& pattern, int32_t& fileCounter,
                       int32_t& folderCounter, engine::ScanResult& result,
                       engine::RunObserver& observer, ui::Shell& shell) {
    if (folder.empty() || folder.back() != fs::kPathSeparator) folder.push_back(fs::kPathSeparator);
    shell.Yield();

    // The walk keeps the folders it is inside on an explicit stack, so depth costs no call stack
    // and a link back to one of them is noticed.
    std::vector<Visit> walk;
    auto enter = [&](std::string path, std::optional<fs::FileIdentity> id) {
        Visit v{std::move(path), {}, 0, id};
        v.subfolders =
            ListFolder(v.folder, pattern, fileCounter, folderCounter, result, observer, shell);
        if (!v.subfolders.empty()) shell.Yield();
        walk.push_back(std::move(v));
    };
    enter(folder, fs::IdentityOf(folder));

    while (!walk.empty()) {
        Visit& top = walk.back();
        if (top.next == top.subfolders.size()) {
            walk.pop_back();
            continue;
        }
        std::string child = top.folder + top.subfolders[top.next++] + fs::kPathSeparator;
        shell.Yield();
        std::optional<fs::FileIdentity> id = fs::IdentityOf(child);
        if (OnCurrentWalk(walk, id)) continue;
        shell.Yield();  // the descent's own trailing-separator step
        enter(std::move(child), id);
    }
}

}  // namespace job
