#include "job/message_queue_scan.h"

#include <optional>
#include <vector>

#include "fs/mod_files.h"
#include "fs/path_forms.h"

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
            uint32_t attributes = fs::GetPathAttributes(folder + n);
            if (attributes & fs::kAttrDirectory) {
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

    fs::FileFindRecord files;
    if (fs::FindFirstEntry(folder + pattern, files) != fs::kInvalidHandle) {
        shell.Yield();
        do {
            shell.Yield();
            std::string n = files.FileName;
            uint32_t attributes = fs::GetPathAttributes(folder + n);
            if (!IsDots(n) && (attributes & fs::kAttrDirectory) == 0) {
                shell.Yield();
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
