#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mime/import.h"

namespace mime {

// The states a mail client keeps beside a message (Thunderbird's X-Mozilla-Status, the Status
// and X-Status fields other mbox writers use).
struct MailMarks {
    bool known = false;  // the message carries a state at all; otherwise it is left as read
    bool read = false;
    bool replied = false;
    bool forwarded = false;
    bool flagged = false;
    bool deleted = false;  // expunged: the client no longer shows it
};

// One message of an mbox file: its "From " separator line starts at `offset`, and it runs
// `length` bytes up to the next separator line or the end of the file.
struct MboxMessage {
    uint64_t ordinal = 0;  // 1-based, in file order
    uint64_t offset = 0;
    uint64_t length = 0;
    MailMarks marks;
};

// Whether the file's first line starts with "From ": the one sign of an mbox, whatever its name.
bool LooksLikeMbox(const std::string& path);

// Reads the mbox file as a stream, line by line through a buffer, telling `found` each message
// in file order; the file is never held in memory. A line starting "From " separates messages
// only at the start of the file, or after a blank line when it holds a time of day as envelope
// lines do ("From a@b Mon Jan  1 10:00:00 2024") and does not lie within the body length a
// message's Content-Length gives (trusted only when a separator or the end of the file is
// really there). Any other "From " line is text of the message before, quoted (">From ") or
// not. GMime's mbox mode is not used for this: it ends a message at every "From " line and
// gives up for good at one followed by lines that are no header fields. Each message is then
// parsed on its own by ImportMboxMessage. Returns why the file could not be read, or "".
std::string ScanMbox(const std::string& path, const std::function<void(const MboxMessage&)>& found);

// Imports the message at [offset, offset + length) of an mbox file (the separator line first).
// Its source digest is the SHA-256 of its bytes after the separator line up to the next one, as
// stored: mboxrd's ">From" quoting is not undone for the digest, so the identity of a message is
// exactly its bytes in the file. Its content has one ">" taken from every line that starts with
// ">From " or ">>From " and so on (mboxrd), unless it is larger than
// `options.inMemoryFileLimit`, when it is parsed straight from the file as it stands. `shown`
// names the message in failures and warnings. Never throws.
ImportResult ImportMboxMessage(const std::string& path, uint64_t offset, uint64_t length,
                               const std::string& shown, const ImportOptions& options = {});

// mboxrd unquoting of one message's bytes, in place; returns the new size.
size_t UnquoteFromLines(char* data, size_t size);

}  // namespace mime
