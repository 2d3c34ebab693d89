#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pst/messaging/message_content.h"
#include "tests/mime_readers/round_trip_json.h"

namespace mime::roundtrip {

struct Address {
    std::string name;   // "" when unknown
    std::string email;  // "" when unknown
};

struct AttachmentView {
    std::string sha256;  // of the data; "" when the viewer cannot tell (embedded messages)
    bool embedded = false;
    std::string label;  // name or type, for messages only
};

// What one viewer (GMime on the source, our reader, a third-party reader) sees of a message,
// in the terms the reader dumps use.
struct MessageView {
    std::string subject;
    std::string senderName, senderEmail;  // Sender, or From when there is no Sender
    std::string fromName, fromEmail;      // From ("" where a viewer does not tell them apart)
    std::vector<Address> to, cc;
    std::optional<std::string> bodyText;  // nullopt: none seen
    // GMime only: the body's 8-bit bytes have no charset that is surely theirs (none, ASCII,
    // or a single-byte one on bytes that are valid UTF-8), so GMime's reading is a guess.
    bool bodyCharsetGuessed = false;
    bool hasHtml = false;
    std::vector<AttachmentView> attachments;
    // GMime only: inline text parts besides the body (a converter may keep them as attachments
    // or join them to the body), and inline pictures next to the body text (which a converter
    // may show in an HTML body).
    std::vector<AttachmentView> otherText;
    bool inlinePictures = false;
    // A clear-signed message: its signed entity is kept whole as one attachment; these are the
    // attachments inside it (GMime's, or ours parsed back with GMime).
    std::vector<AttachmentView> signedParts;
};

// What GMime itself decodes from a source file, read with GMime's own calls only: the first
// inline text/plain part outside attached messages is the body text, a non-empty inline
// text/html or text/enriched part means an HTML body, and every other leaf (named, disposed as
// attachment, or not text) is an attachment. An address header GMime finds no mailbox in stands for
// one mailbox named with its text, unless it is an empty group. Nothing when GMime cannot build a
// message.
std::optional<MessageView> ViewFromGMime(const std::string& path);

// The name under which a signed entity is kept whole.
inline constexpr const char* kSignedEntityName = "smime.p7m";

// What our reader gives back for a stored message.
MessageView ViewFromContent(const pst::messaging::MessageContent& content);

// One message of a reader script's dump (run with --full).
MessageView ViewFromDump(const Json& message);

// Body text as the reader scripts normalise it: CR LF and CR become LF, trailing blanks,
// line ends and NULs go.
std::string NormaliseText(std::string text);
// Whitespace runs made one space, ends trimmed: text compared across line wrapping and
// the blank lines converters add or drop.
std::string CollapseSpace(const std::string& text);
std::string Sha256(const void* data, size_t size);

}  // namespace mime::roundtrip
