#include "mime/header_properties.h"

#include <unordered_set>

#include "fs/text.h"
#include "mime/address.h"
#include "mime/charset.h"
#include "mime/encoded_words.h"
#include "mime/gmime_support.h"
#include "mime/header_rules.h"
#include "mime/tags.h"

namespace mime {
namespace {

using pst::PropertyValue;
using pst::messaging::MessageContent;
using pst::messaging::NamedValue;

constexpr size_t kMaxReferences = 64 * 1024;
constexpr size_t kMaxNamedHeaders = 200;

class HeaderReader {
  public:
    HeaderReader(GMimeMessage* message, const TopLevel* top, int64_t fallbackTime,
                 MessageContent& out)
        : msg_(message),
          obj_(GMIME_OBJECT(message)),
          top_(top),
          fallbackTime_(fallbackTime),
          out_(out) {}

    MessageTimes Read() {
        SetHeaderProperties();
        return {submitTime_, deliveryTime_};
    }

  private:
    const char* Header(const char* name) const { return g_mime_object_get_header(obj_, name); }

    static void Flatten(InternetAddressList* list, std::vector<Mailbox>& out, int depth) {
        if (!list || depth > 4) return;
        int n = internet_address_list_length(list);
        for (int i = 0; i < n; ++i) {
            InternetAddress* ia = internet_address_list_get_address(list, i);
            if (INTERNET_ADDRESS_IS_GROUP(ia)) {
                Flatten(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out,
                        depth + 1);
                continue;
            }
            if (!INTERNET_ADDRESS_IS_MAILBOX(ia)) continue;
            Mailbox m;
            m.address = TextOf(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
            m.name = TextOf(internet_address_get_name(ia));
            if (m.address.empty() && m.name.empty()) continue;
            if (m.address.empty()) m.address = m.name;
            if (m.name.empty()) m.name = m.address;
            out.push_back(std::move(m));
        }
    }

    std::vector<Mailbox> Mailboxes(GMimeAddressType type, const char* headerName) const {
        std::vector<Mailbox> out;
        Flatten(g_mime_message_get_addresses(msg_, type), out, 0);
        if (out.empty()) {
            // Text the address parser made nothing of is kept as it is, unless it is a group.
            std::string raw = Unfold(TextOf(Header(headerName)));
            if (!raw.empty() && raw.find(':') == std::string::npos &&
                raw.find_first_not_of(" \t,;") != std::string::npos)
                out.push_back({raw, raw});
        }
        return out;
    }

    void SetHeaderProperties() {
        auto& p = out_.props;
        std::string subject = TextOf(g_mime_message_get_subject(msg_));
        std::u16string subject16 = pst::Utf8ToUtf16(Unfold(subject));
        SubjectParts parts = SplitSubject(subject16);
        p.Set(PropertyValue::String(tag::kSubject, subject16));
        p.Set(PropertyValue::String(tag::kSubjectPrefix, parts.prefix));
        p.Set(PropertyValue::String(tag::kNormalizedSubject, parts.normalized));
        if (const char* topic = Header("Thread-Topic"))
            p.Set(PropertyValue::StringUtf8(tag::kConversationTopic, Unfold(topic)));
        else
            p.Set(PropertyValue::String(tag::kConversationTopic, parts.normalized));

        // Addresses
        auto from = Mailboxes(GMIME_ADDRESS_TYPE_FROM, "From");
        auto sender = Mailboxes(GMIME_ADDRESS_TYPE_SENDER, "Sender");
        if (!from.empty()) SetAddressGroup(p, kSentRepresentingTags, from.front());
        if (!sender.empty())
            SetAddressGroup(p, kSenderTags, sender.front());
        else if (!from.empty())
            SetAddressGroup(p, kSenderTags, from.front());

        static const struct {
            GMimeAddressType type;
            const char* header;
            int32_t recipientType;
            uint32_t displayTag;
        } kKinds[] = {{GMIME_ADDRESS_TYPE_TO, "To", 1, tag::kDisplayTo},
                      {GMIME_ADDRESS_TYPE_CC, "Cc", 2, tag::kDisplayCc},
                      {GMIME_ADDRESS_TYPE_BCC, "Bcc", 3, tag::kDisplayBcc}};
        int32_t row = 0;
        for (const auto& k : kKinds) {
            auto list = Mailboxes(k.type, k.header);
            p.Set(PropertyValue::StringUtf8(k.displayTag, JoinNames(list)));
            for (const auto& m : list)
                out_.recipients.push_back(MakeRecipient(m, k.recipientType, row++));
        }

        auto replyTo = Mailboxes(GMIME_ADDRESS_TYPE_REPLY_TO, "Reply-To");
        if (!replyTo.empty()) {
            std::vector<std::vector<uint8_t>> entries;
            for (const auto& m : replyTo) entries.push_back(OneOffEntryId(m));
            p.Set(PropertyValue::StringUtf8(tag::kReplyRecipientNames, JoinNames(replyTo)));
            p.Set(PropertyValue::Binary(tag::kReplyRecipientEntries, FlatEntryList(entries)));
        }

        SetTimes();

        if (const char* id = Header("Message-ID")) {
            std::string v = RemoveWhitespace(id);
            if (!v.empty() && v.front() != '<') v = "<" + v + ">";
            if (!v.empty()) p.Set(PropertyValue::StringUtf8(tag::kInternetMessageId, v));
        }
        if (const char* v = Header("In-Reply-To")) {
            std::string s = Unfold(v);
            if (!s.empty()) p.Set(PropertyValue::StringUtf8(tag::kInReplyToId, s));
        }
        if (const char* v = Header("References")) {
            std::string s = Unfold(v);
            if (s.size() > kMaxReferences) {
                size_t cut = s.rfind(' ', kMaxReferences);
                s.resize(cut == std::string::npos ? kMaxReferences : cut);
            }
            if (!s.empty()) p.Set(PropertyValue::StringUtf8(tag::kInternetReferences, s));
        }
        if (const char* v = Header("Thread-Index")) {
            std::string s = RemoveWhitespace(v);
            gsize len = 0;
            guchar* raw = g_base64_decode(s.c_str(), &len);
            if (raw && len >= 22)
                p.Set(PropertyValue::Binary(tag::kConversationIndex,
                                            std::span<const uint8_t>(raw, len)));
            g_free(raw);
        }
        if (!p.Find(tag::kConversationIndex)) {
            const uint64_t ft = UnixToFiletime(submitTime_);
            auto index = DerivedConversationIndex(TextOf(Header("References")),
                                                  TextOf(Header("In-Reply-To")),
                                                  TextOf(Header("Message-ID")), ft);
            if (index.empty()) {
                // No message ID to name the thread: a conversation of its own.
                index.push_back(0x01);
                for (int i = 7; i >= 3; --i) index.push_back(uint8_t(ft >> (8 * i)));
                auto guid = RandomBytes(16);
                index.insert(index.end(), guid.begin(), guid.end());
            }
            p.Set(PropertyValue::Binary(tag::kConversationIndex, index));
        }

        std::string rawHeaders;
        if (top_) {
            rawHeaders = top_->rawHeaders;
        } else {
            GString_ headers(g_mime_object_get_headers(obj_, nullptr));
            rawHeaders = RawOf(headers.get());
        }
        p.Set(PropertyValue::StringUtf8(tag::kTransportMessageHeaders,
                                        NormalizeHeaderBlock(DecodeToUtf8(rawHeaders, ""))));

        HeaderLookup lookup = [this](const char* name) { return Header(name); };
        p.Set(PropertyValue::Int32(tag::kImportance, ImportanceOf(lookup)));
        if (auto prio = PriorityOf(lookup)) p.Set(PropertyValue::Int32(tag::kPriority, *prio));
        p.Set(PropertyValue::Int32(tag::kSensitivity, SensitivityOf(lookup)));
        if (Header("Disposition-Notification-To"))
            p.Set(PropertyValue::Bool(tag::kReadReceiptRequested, true));
        if (Header("Return-Receipt-To"))
            p.Set(PropertyValue::Bool(tag::kOriginatorDeliveryReportRequested, true));
        p.Set(PropertyValue::Int32(tag::kMessageStatus, 0));
        p.Set(PropertyValue::Bool(tag::kMessageToMe, false));
        p.Set(PropertyValue::Bool(tag::kMessageCcMe, false));
        p.Set(PropertyValue::Binary(tag::kSearchKey, RandomBytes(16)));
        SetNamedHeaders();
    }

    void SetTimes() {
        std::optional<int64_t> date;
        if (const char* d = Header("Date")) date = ParseMailDate(d);
        std::optional<int64_t> received;
        GMimeHeaderList* list = g_mime_object_get_header_list(obj_);
        int n = list ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < n; ++i) {
            GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
            if (fs::EqualsNoCase(TextOf(g_mime_header_get_name(h)), "Received")) {
                received = ReceivedDate(TextOf(g_mime_header_get_value(h)));
                break;
            }
        }
        std::optional<int64_t> emlxReceived;
        if (top_ && top_->emlx) emlxReceived = top_->emlx->dateReceived;
        int64_t delivery = emlxReceived ? *emlxReceived
                           : received   ? *received
                           : date       ? *date
                                        : fallbackTime_;
        submitTime_ = date ? *date : delivery;
        deliveryTime_ = delivery;
        auto& p = out_.props;
        p.Set(PropertyValue::Time(tag::kClientSubmitTime, UnixToFiletime(submitTime_)));
        p.Set(PropertyValue::Time(tag::kMessageDeliveryTime, UnixToFiletime(delivery)));
        p.Set(PropertyValue::Time(tag::kCreationTime, UnixToFiletime(delivery)));
        p.Set(PropertyValue::Time(tag::kLastModificationTime, UnixToFiletime(delivery)));
    }

    void SetNamedHeaders() {
        static const std::unordered_set<std::string> kSkip = {"received",
                                                              "return-path",
                                                              "mime-version",
                                                              "x-ms-tnef-correlator",
                                                              "from",
                                                              "sender",
                                                              "to",
                                                              "cc",
                                                              "bcc",
                                                              "reply-to",
                                                              "subject",
                                                              "date",
                                                              "message-id",
                                                              "in-reply-to",
                                                              "references",
                                                              "importance",
                                                              "priority",
                                                              "x-priority",
                                                              "x-msmail-priority",
                                                              "sensitivity",
                                                              "thread-topic",
                                                              "thread-index",
                                                              "disposition-notification-to",
                                                              "return-receipt-to",
                                                              "x-unsent",
                                                              "content-class"};
        GMimeHeaderList* list = g_mime_object_get_header_list(obj_);
        int n = list ? g_mime_header_list_get_count(list) : 0;
        std::unordered_set<std::string> seen;
        for (int i = 0; i < n && seen.size() < kMaxNamedHeaders; ++i) {
            GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
            std::string name = fs::LowerAscii(TextOf(g_mime_header_get_name(h)));
            if (name.empty() || kSkip.count(name) || name.rfind("content-", 0) == 0 ||
                name.rfind("resent-", 0) == 0 || !seen.insert(name).second)
                continue;
            std::string value = Unfold(TextOf(g_mime_header_get_value(h)));
            if (value.size() > 16 * 1024) continue;
            NamedValue nv;
            nv.name.guid = tag::kPsInternetHeaders;
            nv.name.name = pst::Utf8ToUtf16(name);
            nv.value = PropertyValue::StringUtf8(0x8000001F, value);
            out_.props.named.push_back(std::move(nv));
        }
    }

    GMimeMessage* msg_;
    GMimeObject* obj_;
    const TopLevel* top_;
    int64_t fallbackTime_;
    MessageContent& out_;
    int64_t submitTime_ = 0;
    int64_t deliveryTime_ = 0;
};

}  // namespace

MessageTimes SetHeaderProperties(GMimeMessage* message, const TopLevel* top, int64_t fallbackTime,
                                 MessageContent& out) {
    RepairSplitEncodedWords(GMIME_OBJECT(message));
    return HeaderReader(message, top, fallbackTime, out).Read();
}

}  // namespace mime
