#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace engine {

// What one queued entry is to the conversion: a message file (by its name), a message of a
// Maildir (a file in the "cur" or "new" of a folder holding both), a message of an mbox file
// (store::MboxItem), or something that is only counted.
struct SourceEntry {
    enum class Kind { Other, MessageFile, MaildirMessage, MboxMessage };
    Kind kind = Kind::Other;
    bool IsMessage() const { return kind != Kind::Other; }
    // The source folder (ending with the separator) whose store folder receives the message:
    // a Maildir's own folder rather than its "cur" or "new"; for an mbox file, the file's path
    // as a folder (an Apple "NAME.mbox" bundle's "mbox" file: the bundle).
    std::string folder;
    std::string shown;     // how reports name it
    uint32_t marks = 0;    // store::MboxItem bits: the states the client kept, when known
    bool trashed = false;  // a Maildir message marked T: it belongs in Deleted Items
};

// Tells queued entries apart; remembers which folders are Maildirs, so a Maildir's messages
// cost one look at the disk between them.
class SourceEntries {
  public:
    SourceEntry Classify(std::string_view value);
    bool IsMessage(std::string_view value) { return Classify(value).IsMessage(); }
    // Whether a source subfolder is the "cur", "new" or "tmp" of a Maildir: no store folder of
    // its own.
    bool IsMaildirPart(const std::string& folder);
    // The folder as the store sees it: a Maildir++ subfolder (".Work.Sub" inside a Maildir, as
    // Dovecot and Courier keep them) as the nested folders Work and Sub; any other unchanged.
    // Without a trailing separator.
    std::string MailFolder(const std::string& folder);

  private:
    bool IsMaildir(const std::string& folder);  // ends with the separator
    std::unordered_map<std::string, bool> maildirs_;
};

// A store path relative to the source, each folder named as its mail client shows it:
// Thunderbird's "NAME.sbd" subfolder directories and Apple's "NAME.mbox" bundles become NAME.
std::string MailFolderPath(std::string_view storeRelative);

// The states of a Maildir message from the info part of its name (":2," then letters; "!2,"
// or ";2," where ":" is not allowed in names), as store::MboxItem bits; a message in "new"
// has not been seen.
uint32_t MaildirMarks(std::string_view name, bool inNew);

}  // namespace engine
