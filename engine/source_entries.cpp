#include "engine/source_entries.h"

#include <optional>

#include "engine/path_routines.h"
#include "fs/mod_files.h"
#include "fs/path_forms.h"
#include "fs/text.h"
#include "store/mbox_item.h"

namespace engine {
namespace {

using store::MboxItem;

bool IsMessageFileName(const std::string& name) {
    return fs::EndsWithNoCase(name, ".eml") || fs::EndsWithNoCase(name, ".emlx") ||
           fs::EqualsNoCase(name, "eml~1");
}

std::string WithoutSeparator(std::string folder) {
    if (!folder.empty() && folder.back() == fs::kPathSeparator) folder.pop_back();
    return folder;
}

}  // namespace

bool SourceEntries::IsMaildir(const std::string& folder) {
    auto found = maildirs_.find(folder);
    if (found != maildirs_.end()) return found->second;
    const bool maildir = fs::FolderExists(folder + "cur") && fs::FolderExists(folder + "new");
    maildirs_.emplace(folder, maildir);
    return maildir;
}

bool SourceEntries::IsMaildirPart(const std::string& folder) {
    const std::string path = WithoutSeparator(folder);
    const std::string name = FileNameOf(path);
    if (name != "cur" && name != "new" && name != "tmp") return false;
    return IsMaildir(DirectoryOf(path));
}

std::string SourceEntries::MailFolder(const std::string& folder) {
    const std::string path = WithoutSeparator(folder);
    const std::string name = FileNameOf(path);
    const std::string parent = DirectoryOf(path);
    if (name.size() < 2 || name[0] != '.' || !IsMaildir(parent) ||
        !IsMaildir(path + fs::kPathSeparator))
        return path;
    std::string nested = name.substr(1);
    for (char& c : nested)
        if (c == '.') c = fs::kPathSeparator;
    return parent + nested;
}

SourceEntry SourceEntries::Classify(std::string_view value) {
    SourceEntry entry;
    if (auto item = MboxItem::Parse(value)) {
        entry.shown = item->Shown();
        entry.marks = item->marks;
        // Deleted in its client and waiting to be compacted away: not a message it shows.
        if (item->marks & MboxItem::kDeleted) return entry;
        entry.kind = SourceEntry::Kind::MboxMessage;
        const std::string dir = DirectoryOf(item->path);
        entry.folder =
            FileNameOf(item->path) == "mbox" && fs::EndsWithNoCase(WithoutSeparator(dir), ".mbox")
                ? dir
                : item->path + fs::kPathSeparator;
        return entry;
    }
    const std::string path(value);
    entry.shown = path;
    const std::string dir = DirectoryOf(path);
    const std::string name = FileNameOf(path);
    if (IsMessageFileName(name)) {
        entry.kind = SourceEntry::Kind::MessageFile;
        entry.folder = dir;
        return entry;
    }
    const std::string dirName = FileNameOf(WithoutSeparator(dir));
    if ((dirName == "cur" || dirName == "new") && !name.empty() && name[0] != '.') {
        const std::string maildir = DirectoryOf(WithoutSeparator(dir));
        if (IsMaildir(maildir)) {
            entry.kind = SourceEntry::Kind::MaildirMessage;
            entry.folder = MailFolder(maildir) + fs::kPathSeparator;
            entry.marks = MaildirMarks(name, dirName == "new");
            entry.trashed = (entry.marks & MboxItem::kDeleted) != 0;
        }
    }
    return entry;
}

uint32_t MaildirMarks(std::string_view name, bool inNew) {
    uint32_t marks = MboxItem::kKnown;
    if (inNew) return marks;
    size_t info = std::string_view::npos;
    for (const char* mark : {":2,", "!2,", ";2,"})
        if (size_t at = name.rfind(mark); at != std::string_view::npos) info = at + 3;
    if (info == std::string_view::npos) return marks;
    for (char c : name.substr(info)) {
        switch (c) {
            case 'S':
                marks |= MboxItem::kRead;
                break;
            case 'R':
                marks |= MboxItem::kReplied;
                break;
            case 'P':
                marks |= MboxItem::kForwarded;
                break;
            case 'F':
                marks |= MboxItem::kFlagged;
                break;
            case 'T':
                marks |= MboxItem::kDeleted;
                break;
            default:
                break;  // D (draft) and the client's own lower-case letters
        }
    }
    return marks;
}

std::string MailFolderPath(std::string_view storeRelative) {
    std::string out;
    size_t pos = 0;
    while (pos <= storeRelative.size()) {
        size_t end = storeRelative.find('\\', pos);
        if (end == std::string_view::npos) end = storeRelative.size();
        std::string_view piece = storeRelative.substr(pos, end - pos);
        for (std::string_view suffix : {".sbd", ".mbox"})
            if (piece.size() > suffix.size() && fs::EndsWithNoCase(piece, suffix))
                piece.remove_suffix(suffix.size());
        out += piece;
        if (end < storeRelative.size()) out += '\\';
        pos = end + 1;
    }
    return out;
}

}  // namespace engine
