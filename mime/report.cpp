#include "mime/report.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "fs/text.h"
#include "mime/address.h"
#include "mime/gmime_support.h"
#include "mime/header_rules.h"
#include "mime/tags.h"

namespace mime {
namespace {

using pst::PropertyValue;
using pst::messaging::MessageContent;
using pst::messaging::PropertySet;
using pst::messaging::Recipient;

// What a report changes in the message, applied only once the report has been read whole.
struct ReportChanges {
    std::string messageClass;
    PropertySet props;
    std::optional<std::vector<Recipient>> recipients;
};

// Report bodies are a few kilobytes; anything far larger is not read as one.
constexpr uint64_t kMaxReportBody = 1 << 20;
constexpr size_t kMaxReportedRecipients = 5000;

std::string Lower(std::string_view s) {
    return fs::LowerAscii(std::string(s));
}

std::string TrimCopy(std::string_view s) {
    const size_t from = s.find_first_not_of(" \t\r\n");
    if (from == std::string_view::npos) return {};
    const size_t to = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(from, to + 1 - from));
}

const std::string* Field(const ReportFields& fields, std::string_view name) {
    for (const auto& [n, v] : fields)
        if (n == name) return &v;
    return nullptr;
}

std::string FieldOr(const ReportFields& fields, std::string_view name) {
    const std::string* v = Field(fields, name);
    return v ? *v : std::string();
}

// "rfc822; <a@b.c>" -> "a@b.c"; a value without a type is taken whole.
std::string TypedAddress(std::string_view value) {
    const size_t semi = value.find(';');
    std::string address = TrimCopy(semi == std::string_view::npos ? value : value.substr(semi + 1));
    if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
        address = TrimCopy(std::string_view(address).substr(1, address.size() - 2));
    return address;
}

// The mta-name part of "dns; mx.example.net".
std::string MtaName(std::string_view value) {
    const size_t semi = value.find(';');
    return TrimCopy(semi == std::string_view::npos ? value : value.substr(semi + 1));
}

// The d.d.d status code at the start of a Status field ("5.1.1 (bad mailbox)" -> "5.1.1").
std::string StatusCodeText(std::string_view status) {
    std::string s = TrimCopy(status);
    size_t end = 0;
    while (end < s.size() && (std::isdigit(uint8_t(s[end])) || s[end] == '.')) ++end;
    return s.substr(0, end);
}

int Severity(std::string_view action) {
    static const char* kOrder[] = {"delivered", "expanded", "relayed", "delayed", "failed"};
    for (int i = 0; i < 5; ++i)
        if (action == kOrder[i]) return i;
    return -1;
}

// DiagnosticCode for the subject and detail of a status code, where the conversion rules give
// one; -1 (no diagnostic) otherwise.
int32_t DiagnosticCode(int subject, int detail) {
    if (subject == 1) {
        switch (detail) {
            case 1:
                return 35;
            case 2:
                return 48;
            case 3:
                return 32;
            case 4:
                return 1;
            case 6:
                return 40;
            default:
                return 0;
        }
    }
    if (subject == 2) {
        switch (detail) {
            case 1:
                return 38;
            case 2:
                return 13;
            case 3:
                return 13;
            case 4:
                return 30;
            default:
                break;
        }
    }
    return -1;
}

// Text of a leaf part, bounded; empty for anything else.
std::string PartText(GMimeObject* object) {
    if (!GMIME_IS_PART(object)) return {};
    GMimePart* part = GMIME_PART(object);
    if (RangeOf(part).encodedSize > kMaxReportBody) return {};
    return DecodedText(part);
}

void Flatten(InternetAddressList* list, std::vector<Mailbox>& out, int depth) {
    if (!list || depth > 4) return;
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            Flatten(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out, depth + 1);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            Mailbox m;
            m.address = TextOf(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
            m.name = TextOf(internet_address_get_name(ia));
            if (m.name.empty()) m.name = m.address;
            if (!m.name.empty()) out.push_back(std::move(m));
        }
    }
}

std::string DisplayOf(GMimeMessage* message, GMimeAddressType type) {
    std::vector<Mailbox> list;
    Flatten(g_mime_message_get_addresses(message, type), list, 0);
    return JoinNames(list);
}

// What the returned message (or its header block) tells of the message the report is about.
void SetOriginalMessage(GMimeObject* returned, PropertySet& p) {
    GPtr<GMimeMessage> parsed;
    GMimeMessage* original = nullptr;
    if (GMIME_IS_MESSAGE_PART(returned)) {
        original = g_mime_message_part_get_message(GMIME_MESSAGE_PART(returned));
    } else if (IsType(returned, "text", "rfc822-headers") ||
               IsType(returned, "message", "rfc822-headers") ||
               IsType(returned, "message", "rfc822")) {
        std::string text = PartText(returned);
        if (text.empty()) return;
        text += "\r\n\r\n";
        GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        parsed.reset(g_mime_parser_construct_message(parser.get(), LooseParserOptions()));
        original = parsed.get();
    }
    if (!original) return;
    GMimeObject* obj = GMIME_OBJECT(original);
    if (const char* subject = g_mime_message_get_subject(original))
        p.Set(PropertyValue::StringUtf8(tag::kOriginalSubject, Unfold(TextOf(subject))));
    if (const char* date = g_mime_object_get_header(obj, "Date"))
        if (auto t = ParseMailDate(date))
            p.Set(PropertyValue::Time(tag::kOriginalSubmitTime, UnixToFiletime(*t)));
    const std::string to = DisplayOf(original, GMIME_ADDRESS_TYPE_TO);
    const std::string cc = DisplayOf(original, GMIME_ADDRESS_TYPE_CC);
    if (!to.empty()) p.Set(PropertyValue::StringUtf8(tag::kOriginalDisplayTo, to));
    if (!cc.empty()) p.Set(PropertyValue::StringUtf8(tag::kOriginalDisplayCc, cc));
    if (const char* id = g_mime_object_get_header(obj, "Message-ID");
        id && !p.Find(tag::kOriginalMessageId)) {
        std::string v = RemoveWhitespace(id);
        if (!v.empty()) p.Set(PropertyValue::StringUtf8(tag::kOriginalMessageId, v));
    }
}

// The report's own addressee, kept as the received-by mailbox when the recipient rows are
// given to the reported recipients.
void KeepAddresseeAsReceivedBy(const MessageContent& in, PropertySet& p) {
    for (const auto& r : in.recipients) {
        const PropertyValue* type = r.props.Find(tag::kRecipientType);
        if (!type || type->AsInt32() != 1) continue;
        const PropertyValue* name = r.props.Find(tag::kDisplayName);
        const PropertyValue* address = r.props.Find(tag::kEmailAddress);
        if (!address) continue;
        p.Set(PropertyValue::String(tag::kReceivedByName, name ? name->AsString() : u""));
        p.Set(PropertyValue::String(tag::kReceivedByEmailAddress, address->AsString()));
        p.Set(PropertyValue::String(tag::kReceivedByAddrType, u"SMTP"));
        p.Set(PropertyValue::String(tag::kReceivedBySmtpAddress, address->AsString()));
        return;
    }
}

bool ReadDeliveryStatus(const std::vector<ReportFields>& groups, const MessageContent& in,
                        int64_t sentTime, ReportChanges& c) {
    int highest = -1;
    for (const auto& g : groups)
        if (const std::string* action = Field(g, "action"))
            highest = std::max(highest, Severity(Lower(TrimCopy(*action))));
    if (highest < 0) return false;
    static const char* kSuffix[] = {".DR", ".Expanded.DR", ".Relayed.DR", ".Delayed.DR", ".NDR"};

    auto& p = c.props;
    const uint64_t reportTime = UnixToFiletime(sentTime);
    for (const auto& g : groups) {
        if (const std::string* mta = Field(g, "reporting-mta")) {
            p.Set(PropertyValue::StringUtf8(tag::kReportingMta, *mta));
            break;
        }
    }
    p.Set(PropertyValue::Time(tag::kReportTime, reportTime));

    KeepAddresseeAsReceivedBy(in, p);
    std::vector<Recipient> reported;
    std::vector<Mailbox> names;
    for (const auto& g : groups) {
        const std::string* action = Field(g, "action");
        if (!action || Severity(Lower(TrimCopy(*action))) != highest) continue;
        if (reported.size() >= kMaxReportedRecipients) break;
        Mailbox m;
        m.address = TypedAddress(FieldOr(g, "final-recipient"));
        if (m.address.empty()) m.address = TypedAddress(FieldOr(g, "original-recipient"));
        if (m.address.empty()) continue;
        m.name = FieldOr(g, "x-display-name");
        if (m.name.empty()) m.name = m.address;
        Recipient r = MakeRecipient(m, 1, int32_t(reported.size()));
        auto& rp = r.props;
        const std::string remote = MtaName(FieldOr(g, "remote-mta"));
        if (!remote.empty()) rp.Set(PropertyValue::StringUtf8(tag::kRemoteMta, remote));
        const std::string status = StatusCodeText(FieldOr(g, "status"));
        if (const std::string* info = Field(g, "x-supplementary-info")) {
            rp.Set(PropertyValue::StringUtf8(tag::kSupplementaryInfo, *info));
        } else {
            const std::string diagnostic = FieldOr(g, "diagnostic-code");
            rp.Set(PropertyValue::StringUtf8(
                tag::kSupplementaryInfo,
                "<" + remote + " #" + status + (diagnostic.empty() ? "" : " " + diagnostic) + ">"));
        }
        rp.Set(PropertyValue::Time(tag::kReportTime, reportTime));
        if (highest != 4) rp.Set(PropertyValue::Time(tag::kDeliverTime, reportTime));
        if (auto code = NdrStatusCode(status)) {
            rp.Set(PropertyValue::Int32(tag::kNdrStatusCode, *code));
            rp.Set(PropertyValue::Int32(tag::kNdrDiagCode,
                                        DiagnosticCode(*code / 10 % 10, *code % 10)));
            rp.Set(PropertyValue::Int32(tag::kNdrReasonCode, 0));
        }
        names.push_back(m);
        reported.push_back(std::move(r));
    }
    if (reported.empty()) return false;
    c.recipients = std::move(reported);
    p.Set(PropertyValue::StringUtf8(tag::kDisplayTo, JoinNames(names)));
    p.Set(PropertyValue::StringUtf8(tag::kDisplayCc, ""));
    p.Set(PropertyValue::StringUtf8(tag::kDisplayBcc, ""));
    c.messageClass += kSuffix[highest];
    return true;
}

bool ReadDisposition(const std::vector<ReportFields>& groups, int64_t sentTime, ReportChanges& c) {
    const ReportFields* fields = nullptr;
    for (const auto& g : groups)
        if (Field(g, "disposition")) fields = &g;
    if (!fields) return false;
    // "manual-action/MDN-sent-manually; displayed" (modifiers after a '/').
    const std::string disposition = *Field(*fields, "disposition");
    const size_t semi = disposition.find(';');
    if (semi == std::string::npos) return false;
    const std::string mode = TrimCopy(std::string_view(disposition).substr(0, semi));
    std::string type = Lower(TrimCopy(std::string_view(disposition).substr(semi + 1)));
    type = TrimCopy(std::string_view(type).substr(0, type.find('/')));
    std::string suffix;
    if (type == "displayed")
        suffix = ".IPNRN";
    else if (type == "deleted" || type == "dispatched" || type == "processed" || type == "denied" ||
             type == "failed")
        suffix = ".IPNNRN";
    else
        return false;

    auto& p = c.props;
    p.Set(PropertyValue::StringUtf8(tag::kReportDisposition, type));
    if (!mode.empty()) p.Set(PropertyValue::StringUtf8(tag::kReportDispositionMode, mode));
    p.Set(PropertyValue::Time(tag::kReportTime, UnixToFiletime(sentTime)));
    if (const std::string* id = Field(*fields, "original-message-id")) {
        std::string v = RemoveWhitespace(*id);
        if (!v.empty()) p.Set(PropertyValue::StringUtf8(tag::kOriginalMessageId, v));
    }
    if (const std::string* key = Field(*fields, "x-msexch-correlation-key")) {
        gsize len = 0;
        guchar* raw = g_base64_decode(RemoveWhitespace(*key).c_str(), &len);
        if (raw && len > 0)
            p.Set(PropertyValue::Binary(tag::kParentKey, std::span<const uint8_t>(raw, len)));
        g_free(raw);
    }
    c.messageClass += suffix;
    return true;
}

}  // namespace

std::vector<ReportFields> ReadReportFields(std::string_view text) {
    std::vector<ReportFields> groups;
    ReportFields current;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) {
            if (!current.empty()) groups.push_back(std::move(current));
            current.clear();
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t')) {
            if (!current.empty()) current.back().second += " " + TrimCopy(line);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) continue;
        current.emplace_back(Lower(TrimCopy(line.substr(0, colon))),
                             TrimCopy(line.substr(colon + 1)));
    }
    if (!current.empty()) groups.push_back(std::move(current));
    return groups;
}

std::optional<int32_t> NdrStatusCode(std::string_view status) {
    int values[3] = {0, 0, 0};
    size_t at = 0;
    std::string code = StatusCodeText(status);
    for (int i = 0; i < 3; ++i) {
        size_t end = code.find('.', at);
        std::string part = code.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (part.empty() || part.size() > 3) return std::nullopt;
        values[i] = std::stoi(part);
        if (i < 2 && end == std::string::npos) return std::nullopt;
        at = end + 1;
    }
    const int kind = values[0];
    const int subject = values[1] > 9 ? 0 : values[1];
    const int detail = values[2] > 9 ? 0 : values[2];
    return int32_t(kind * 100 + subject * 10 + detail);
}

std::string ApplyReport(GMimeObject* root, const std::string& messageClass, int64_t sentTime,
                        MessageContent& out) {
    if (!root || !GMIME_IS_MULTIPART(root) || !IsType(root, "multipart", "report")) return {};
    const std::string reportType =
        Lower(TextOf(g_mime_object_get_content_type_parameter(root, "report-type")));
    const bool delivery = reportType == "delivery-status" || reportType == "global-delivery-status";
    const bool disposition =
        reportType == "disposition-notification" || reportType == "global-disposition-notification";
    if (!delivery && !disposition) return {};

    auto* report = GMIME_MULTIPART(root);
    const int n = g_mime_multipart_get_count(report);
    std::vector<ReportFields> groups;
    GMimeObject* returned = nullptr;
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(report, i);
        const std::string type = MimeTypeOf(child);
        if (type == "message/" + reportType) {
            auto more = ReadReportFields(PartText(child));
            groups.insert(groups.end(), std::make_move_iterator(more.begin()),
                          std::make_move_iterator(more.end()));
        } else if (i > 0 && !returned &&
                   (GMIME_IS_MESSAGE_PART(child) || type == "text/rfc822-headers" ||
                    type == "message/rfc822-headers")) {
            returned = child;
        }
    }
    ReportChanges c;
    c.messageClass = "REPORT." + messageClass;
    if (!(delivery ? ReadDeliveryStatus(groups, out, sentTime, c)
                   : ReadDisposition(groups, sentTime, c)))
        return {};
    if (returned) SetOriginalMessage(returned, c.props);
    for (auto& v : c.props.values) out.props.Set(std::move(v));
    if (c.recipients) out.recipients = std::move(*c.recipients);
    return c.messageClass;
}

}  // namespace mime
