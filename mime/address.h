#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pst/messaging/message_content.h"

namespace mime {

// One mailbox as the message names it (UTF-8). The name is the address when none was given.
struct Mailbox {
    std::string name;
    std::string address;
};

// One-off entry ID (UTF-16 strings, no rich info) naming an SMTP mailbox.
std::vector<uint8_t> OneOffEntryId(const Mailbox& mailbox);
// "SMTP:" + upper-case address + NUL, as MAPI search keys are formed.
std::vector<uint8_t> SmtpSearchKey(std::string_view address);
// FlatEntryList: count, byte size, then each entry's length and bytes padded to 4.
std::vector<uint8_t> FlatEntryList(const std::vector<std::vector<uint8_t>>& entries);

// The tags of one sender-like property group (sender, sent-representing).
struct AddressTags {
    uint32_t name, emailAddress, addrType, entryId, searchKey, smtpAddress;
};
extern const AddressTags kSenderTags;
extern const AddressTags kSentRepresentingTags;

void SetAddressGroup(pst::messaging::PropertySet& props, const AddressTags& tags,
                     const Mailbox& mailbox);

// A recipient row of the given type (1 To, 2 Cc, 3 Bcc) and row id.
pst::messaging::Recipient MakeRecipient(const Mailbox& mailbox, int32_t type, int32_t rowId);

// Display names joined with "; ".
std::string JoinNames(const std::vector<Mailbox>& mailboxes);

}  // namespace mime
