#include "mime/address.h"

#include "mime/tags.h"

namespace mime {

using pst::PropertyValue;

const AddressTags kSenderTags = {tag::kSenderName,      tag::kSenderEmailAddress,
                                 tag::kSenderAddrType,  tag::kSenderEntryId,
                                 tag::kSenderSearchKey, tag::kSenderSmtpAddress};
const AddressTags kSentRepresentingTags = {
    tag::kSentRepresentingName,      tag::kSentRepresentingEmailAddress,
    tag::kSentRepresentingAddrType,  tag::kSentRepresentingEntryId,
    tag::kSentRepresentingSearchKey, tag::kSentRepresentingSmtpAddress};

namespace {

void AppendUtf16z(std::vector<uint8_t>& out, std::string_view utf8) {
    for (char16_t c : pst::Utf8ToUtf16(utf8)) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> OneOffEntryId(const Mailbox& mailbox) {
    static constexpr uint8_t kOneOffProvider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                    0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    std::vector<uint8_t> out;
    out.reserve(24 + 2 * (mailbox.name.size() + mailbox.address.size()) + 16);
    for (int i = 0; i < 4; ++i) out.push_back(0);  // flags
    for (uint8_t b : kOneOffProvider) out.push_back(b);
    out.push_back(0);  // version
    out.push_back(0);
    // Unicode strings (0x8000), no rich info (0x0001), as Outlook writes it (0x1000).
    constexpr uint16_t kFlags = 0x9001;
    out.push_back(uint8_t(kFlags & 0xFF));
    out.push_back(uint8_t(kFlags >> 8));
    AppendUtf16z(out, mailbox.name);
    AppendUtf16z(out, "SMTP");
    AppendUtf16z(out, mailbox.address);
    return out;
}

std::vector<uint8_t> SmtpSearchKey(std::string_view address) {
    std::vector<uint8_t> out;
    out.reserve(address.size() + 6);
    out.assign({'S', 'M', 'T', 'P', ':'});
    for (char c : address) out.push_back(uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c));
    out.push_back(0);
    return out;
}

std::vector<uint8_t> FlatEntryList(const std::vector<std::vector<uint8_t>>& entries) {
    std::vector<uint8_t> body;
    for (const auto& e : entries) {
        Put32(body, uint32_t(e.size()));
        body.insert(body.end(), e.begin(), e.end());
        while (body.size() % 4) body.push_back(0);
    }
    std::vector<uint8_t> out;
    Put32(out, uint32_t(entries.size()));
    Put32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void SetAddressGroup(pst::messaging::PropertySet& props, const AddressTags& tags,
                     const Mailbox& mailbox) {
    props.Set(PropertyValue::StringUtf8(tags.name, mailbox.name));
    props.Set(PropertyValue::StringUtf8(tags.emailAddress, mailbox.address));
    props.Set(PropertyValue::StringUtf8(tags.addrType, "SMTP"));
    props.Set(PropertyValue(tags.entryId, OneOffEntryId(mailbox)));
    props.Set(PropertyValue(tags.searchKey, SmtpSearchKey(mailbox.address)));
    props.Set(PropertyValue::StringUtf8(tags.smtpAddress, mailbox.address));
}

pst::messaging::Recipient MakeRecipient(const Mailbox& mailbox, int32_t type, int32_t rowId) {
    pst::messaging::Recipient r;
    auto& p = r.props;
    p.values.reserve(15);
    auto entryId = OneOffEntryId(mailbox);
    p.Set(PropertyValue::Int32(tag::kRecipientType, type));
    p.Set(PropertyValue::StringUtf8(tag::kDisplayName, mailbox.name));
    p.Set(PropertyValue::StringUtf8(tag::kEmailAddress, mailbox.address));
    p.Set(PropertyValue::StringUtf8(tag::kAddrType, "SMTP"));
    p.Set(PropertyValue::StringUtf8(tag::kSmtpAddress, mailbox.address));
    p.Set(PropertyValue::Binary(tag::kEntryId, entryId));
    p.Set(PropertyValue(tag::kRecordKey, std::move(entryId)));
    p.Set(PropertyValue(tag::kSearchKey, SmtpSearchKey(mailbox.address)));
    p.Set(PropertyValue::Int32(tag::kRowId, rowId));
    p.Set(PropertyValue::Bool(tag::kResponsibility, true));
    p.Set(PropertyValue::Int32(tag::kObjectType, 6));   // MAPI_MAILUSER
    p.Set(PropertyValue::Int32(tag::kDisplayType, 0));  // DT_MAILUSER
    p.Set(PropertyValue::Bool(tag::kSendRichInfo, false));
    p.Set(PropertyValue::StringUtf8(tag::kTransmittableDisplayName, mailbox.name));
    p.Set(PropertyValue::Int32(tag::kRecipientFlags, 1));  // sendable
    return r;
}

std::string JoinNames(const std::vector<Mailbox>& mailboxes) {
    std::string out;
    for (const auto& m : mailboxes) {
        if (!out.empty()) out += "; ";
        out += m.name;
    }
    return out;
}

}  // namespace mime
