#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mime {

// Looks up the decoded value of a header by name; nullptr when absent.
using HeaderLookup = std::function<const char*(const char* name)>;

struct SubjectParts {
    std::u16string prefix;      // e.g. u"RE: ", empty when none
    std::u16string normalized;  // subject without the prefix
};
// A prefix is 1-3 characters, none a colon, blank or digit, then ':' and blanks.
SubjectParts SplitSubject(std::u16string_view subject);

// PR_IMPORTANCE: 0 low, 1 normal, 2 high, from Importance, X-Priority, X-MSMail-Priority, Priority.
int32_t ImportanceOf(const HeaderLookup& header);
// PR_PRIORITY from `Priority`: urgent 1, normal 0, non-urgent -1; nullopt when absent or unknown.
std::optional<int32_t> PriorityOf(const HeaderLookup& header);
// PR_SENSITIVITY from `Sensitivity`: Personal 1, Private 2, Company-Confidential 3, else 0.
int32_t SensitivityOf(const HeaderLookup& header);

// An RFC 5322 date (lenient) as Unix seconds, or nullopt when it does not parse to a plausible
// time (before 1970 or after 2200).
std::optional<int64_t> ParseMailDate(std::string_view text);
// The date-time after the last ';' of a Received header.
std::optional<int64_t> ReceivedDate(std::string_view receivedValue);

constexpr uint64_t UnixToFiletime(int64_t unixSeconds) {
    return uint64_t(unixSeconds + 11644473600LL) * 10000000ULL;
}

// A conversation index (22-byte header, a 5-byte child block per reply level) for a message
// without a Thread-Index header. The thread is named by its first message ID (References'
// first, else In-Reply-To's, else the message's own), whose MD5 hash is the conversation GUID,
// so every message of a thread shares it even when the first message is missing. The header
// takes the message's own time; the first message's is not known to a reply. Empty when no
// message ID is given.
std::vector<uint8_t> DerivedConversationIndex(std::string_view references,
                                              std::string_view inReplyTo,
                                              std::string_view messageId, uint64_t filetime);

// Header block with every line end as CRLF, ending with one empty line (CRLF CRLF), without a
// leading mbox "From " line.
std::string NormalizeHeaderBlock(std::string_view raw);

// Message-ID style value: whitespace (folding included) removed.
std::string RemoveWhitespace(std::string_view s);
// Folded value unfolded (CR/LF removed) and trimmed.
std::string Unfold(std::string_view s);

}  // namespace mime
