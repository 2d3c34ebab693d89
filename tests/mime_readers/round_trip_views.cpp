#include "tests/mime_readers/round_trip_views.h"

#include <fcntl.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "mime/encoded_words.h"

namespace mime::roundtrip {
namespace {

namespace pm = pst::messaging;

// Tags read back from our own files (kept here so the check does not lean on mime/'s list).
constexpr uint32_t kSubject = 0x0037001F;
constexpr uint32_t kSentRepresentingName = 0x0042001F;
constexpr uint32_t kSentRepresentingEmailAddress = 0x0065001F;
constexpr uint32_t kSentRepresentingSmtpAddress = 0x5D02001F;
constexpr uint32_t kSenderName = 0x0C1A001F;
constexpr uint32_t kSenderEmailAddress = 0x0C1F001F;
constexpr uint32_t kSenderSmtpAddress = 0x5D01001F;
constexpr uint32_t kBody = 0x1000001F;
constexpr uint32_t kHtml = 0x10130102;
constexpr uint32_t kRecipientType = 0x0C150003;
constexpr uint32_t kDisplayName = 0x3001001F;
constexpr uint32_t kEmailAddress = 0x3003001F;
constexpr uint32_t kSmtpAddress = 0x39FE001F;
constexpr uint32_t kAttachDataBinary = 0x37010102;
constexpr uint32_t kAttachLongFilename = 0x3707001F;
constexpr uint32_t kAttachMimeTag = 0x370E001F;

struct Unref {
    void operator()(void* p) const {
        if (p) g_object_unref(p);
    }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

std::string Str(const char* s) {
    return s ? s : "";
}

void AddAddresses(InternetAddressList* list, std::vector<Address>& out) {
    if (!list) return;
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            AddAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
            out.push_back({Str(internet_address_get_name(a)),
                           Str(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)))});
        }
    }
}

// The mailboxes of an address header; its bare text when GMime finds none in it.
std::vector<Address> HeaderAddresses(GMimeMessage* message, GMimeAddressType type,
                                     const char* header) {
    std::vector<Address> out;
    AddAddresses(g_mime_message_get_addresses(message, type), out);
    if (!out.empty()) return out;
    std::string text = CollapseSpace(Str(g_mime_object_get_header(GMIME_OBJECT(message), header)));
    if (!text.empty() && text.find(':') == std::string::npos &&
        text.find_first_not_of(",;") != std::string::npos)
        out.push_back({text, text});
    return out;
}

bool IsAttachment(GMimeObject* object) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
    if (d && g_mime_content_disposition_is_attachment(d)) return true;
    return GMIME_IS_PART(object) && g_mime_part_get_filename(GMIME_PART(object)) != nullptr;
}

std::string DecodedBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    Ref<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

void Walk(GMimeObject* object, MessageView& view, bool inMixed) {
    if (GMIME_IS_MESSAGE_PART(object)) {
        view.attachments.push_back({"", true, "message"});
        return;
    }
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* mp = GMIME_MULTIPART(object);
        const bool mixed = g_mime_content_type_is_type(g_mime_object_get_content_type(object),
                                                       "multipart", "mixed");
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
            Walk(g_mime_multipart_get_part(mp, i), view, mixed);
        return;
    }
    if (!GMIME_IS_PART(object)) return;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    const bool text = g_mime_content_type_is_type(type, "text", "*");
    std::string data = DecodedBytes(GMIME_PART(object));
    if (text && !IsAttachment(object)) {
        if (g_mime_content_type_is_type(type, "text", "plain") && !view.bodyText) {
            char* s = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
            view.bodyText = NormaliseText(Str(s));
            g_free(s);
            std::string charset = Str(g_mime_object_get_content_type_parameter(object, "charset"));
            for (auto& ch : charset) ch = char(std::tolower(uint8_t(ch)));
            const bool eightBit =
                std::any_of(data.begin(), data.end(), [](char ch) { return uint8_t(ch) >= 0x80; });
            view.bodyCharsetGuessed = eightBit && charset != "utf-8" &&
                                      (charset.empty() || charset == "us-ascii" ||
                                       g_utf8_validate(data.data(), gssize(data.size()), nullptr));
            return;
        }
        const bool rich = g_mime_content_type_is_type(type, "text", "html") ||
                          g_mime_content_type_is_type(type, "text", "enriched");
        // A rich part with nothing in it is no HTML body.
        if (rich && !CollapseSpace(data).empty()) {
            view.hasHtml = true;
            return;
        }
        view.otherText.push_back({Sha256(data.data(), data.size()), false, "inline text"});
        return;
    }
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    if (inMixed && g_mime_content_type_is_type(type, "image", "*") &&
        !(disposition && g_mime_content_disposition_is_attachment(disposition)))
        view.inlinePictures = true;
    const char* name = g_mime_part_get_filename(GMIME_PART(object));
    gchar* mime = g_mime_content_type_get_mime_type(type);
    view.attachments.push_back({Sha256(data.data(), data.size()), false, name ? name : Str(mime)});
    g_free(mime);
}

// A clear-signed entity: the body and attachments are read from its signed content; the
// entity itself is one attachment.
void WalkTop(GMimeObject* object, MessageView& view) {
    if (!GMIME_IS_MULTIPART_SIGNED(object)) return Walk(object, view, false);
    MessageView inner;
    Walk(object, inner, false);
    view.bodyText = inner.bodyText;
    view.hasHtml = inner.hasHtml;
    view.inlinePictures = inner.inlinePictures;
    view.otherText = inner.otherText;
    view.signedParts = inner.attachments;
    view.attachments = {{"signed", false, kSignedEntityName}};
}

std::string Utf8(const pm::PropertySet& props, uint32_t tag) {
    const auto* v = props.Find(tag);
    return v ? v->AsUtf8() : std::string();
}

std::vector<Address> DumpAddresses(const Json& list) {
    std::vector<Address> out;
    for (const Json& a : list.array) out.push_back({a.str("name"), a.str("email")});
    return out;
}

// The attachments of a signed entity kept whole, parsed back with GMime.
std::vector<AttachmentView> SignedParts(const std::vector<uint8_t>& bytes) {
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
        reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    Ref<GMimeObject> entity(g_mime_parser_construct_part(parser.get(), nullptr));
    if (!entity) return {{"unreadable", false, kSignedEntityName}};
    MessageView inner;
    Walk(entity.get(), inner, false);
    return inner.attachments;
}

}  // namespace

std::string NormaliseText(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    while (!out.empty() &&
           std::string_view("\0 \t\n\r\v\f", 7).find(out.back()) != std::string_view::npos)
        out.pop_back();
    return out;
}

std::string CollapseSpace(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

std::string Sha256(const void* data, size_t size) {
    gchar* hex =
        g_compute_checksum_for_data(G_CHECKSUM_SHA256, static_cast<const guchar*>(data), size);
    std::string out = hex;
    g_free(hex);
    return out;
}

std::optional<MessageView> ViewFromGMime(const std::string& path) {
    static const bool initialised = (g_mime_init(), true);
    (void)initialised;
    Ref<GMimeStream> stream(g_mime_stream_fs_open(path.c_str(), O_RDONLY, 0, nullptr));
    if (!stream) return std::nullopt;
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GMimeParserOptions* options = g_mime_parser_options_new();
    // Real-world mail: accept what GMime can make sense of rather than refuse it.
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    Ref<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
    g_mime_parser_options_free(options);
    if (!message) return std::nullopt;
    // GMime alone loses the text after the first padded word of a run of base64 words.
    mime::RepairSplitEncodedWords(GMIME_OBJECT(message.get()));

    MessageView view;
    view.subject = Str(g_mime_message_get_subject(message.get()));
    auto from = HeaderAddresses(message.get(), GMIME_ADDRESS_TYPE_FROM, "From");
    auto sender = HeaderAddresses(message.get(), GMIME_ADDRESS_TYPE_SENDER, "Sender");
    if (!from.empty()) {
        view.fromName = from[0].name;
        view.fromEmail = from[0].email;
    }
    const std::vector<Address>& s = sender.empty() ? from : sender;
    if (!s.empty()) {
        view.senderName = s[0].name;
        view.senderEmail = s[0].email;
    }
    view.to = HeaderAddresses(message.get(), GMIME_ADDRESS_TYPE_TO, "To");
    view.cc = HeaderAddresses(message.get(), GMIME_ADDRESS_TYPE_CC, "Cc");
    if (GMimeObject* body = g_mime_message_get_mime_part(message.get())) WalkTop(body, view);
    return view;
}

MessageView ViewFromContent(const pm::MessageContent& content) {
    MessageView view;
    const auto& p = content.props;
    view.subject = Utf8(p, kSubject);
    view.senderName = Utf8(p, kSenderName);
    view.senderEmail = Utf8(p, kSenderSmtpAddress);
    if (view.senderEmail.empty()) view.senderEmail = Utf8(p, kSenderEmailAddress);
    view.fromName = Utf8(p, kSentRepresentingName);
    view.fromEmail = Utf8(p, kSentRepresentingSmtpAddress);
    if (view.fromEmail.empty()) view.fromEmail = Utf8(p, kSentRepresentingEmailAddress);
    for (const auto& r : content.recipients) {
        const auto* type = r.props.Find(kRecipientType);
        std::string email = Utf8(r.props, kSmtpAddress);
        if (email.empty()) email = Utf8(r.props, kEmailAddress);
        Address a{Utf8(r.props, kDisplayName), email};
        if (type && type->AsInt32() == 1) view.to.push_back(a);
        if (type && type->AsInt32() == 2) view.cc.push_back(a);
    }
    if (p.Find(kBody)) view.bodyText = NormaliseText(Utf8(p, kBody));
    if (const auto* html = p.Find(kHtml)) view.hasHtml = html->size() > 0;
    for (const auto& a : content.attachments) {
        if (a.embedded) {
            view.attachments.push_back({"", true, "message"});
            continue;
        }
        const auto* data = a.props.Find(kAttachDataBinary);
        const pst::ValueBytes bytes = data ? data->Bytes() : pst::ValueBytes();
        const std::string name = Utf8(a.props, kAttachLongFilename);
        view.attachments.push_back({Sha256(bytes.data(), bytes.size()), false, name});
        if (name == kSignedEntityName && Utf8(a.props, kAttachMimeTag) == "multipart/signed") {
            view.attachments.back().sha256 = "signed";
            view.signedParts = SignedParts(bytes);
        }
    }
    return view;
}

MessageView ViewFromDump(const Json& m) {
    MessageView view;
    view.subject = m.str("subject");
    view.senderName = m.str("sender_name");
    view.senderEmail = m.str("sender_email");
    view.to = DumpAddresses(m["to"]);
    view.cc = DumpAddresses(m["cc"]);
    if (!m["body_text"].isNull()) view.bodyText = m["body_text"].str("text");
    view.hasHtml = !m["body_html"].isNull();
    for (const Json& a : m["attachments"].array) {
        view.attachments.push_back({a.str("sha256"), a["embedded"].boolean, a.str("name")});
        if (a.str("name") == kSignedEntityName) view.attachments.back().sha256 = "signed";
    }
    return view;
}

}  // namespace mime::roundtrip
