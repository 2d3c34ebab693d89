#include "mime/message_builder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "fs/text.h"
#include "fs/utf8_path.h"
#include "mime/attachment_name.h"
#include "mime/attachment_props.h"
#include "mime/body_selection.h"
#include "mime/calendar.h"
#include "mime/charset.h"
#include "mime/file_slice.h"
#include "mime/flowed_text.h"
#include "mime/gmime_support.h"
#include "mime/header_properties.h"
#include "mime/header_rules.h"
#include "mime/html_text.h"
#include "mime/report.h"
#include "mime/tags.h"
#include "mime/tnef.h"
#include "mime/tnef_message.h"

namespace mime {
namespace {

using pst::PropertyValue;
using pst::messaging::Attachment;
using pst::messaging::MessageContent;
using pst::messaging::NamedValue;
using pst::messaging::PropertySet;

// Embedded messages deeper than this are kept as .eml files instead of message objects.
constexpr int kMaxEmbeddedDepth = 32;

bool IsInlineImageType(const std::string& type) {
    static const char* kTypes[] = {"image/jpeg", "image/jpg", "image/pjpeg", "image/gif",
                                   "image/bmp",  "image/png", "image/x-png"};
    return std::any_of(std::begin(kTypes), std::end(kTypes),
                       [&](const char* t) { return type == t; });
}

bool IsTnef(const std::string& type, const std::string& name) {
    return type == "application/ms-tnef" || type == "application/vnd.ms-tnef" ||
           fs::LowerAscii(name) == "winmail.dat";
}

class Builder {
  public:
    Builder(GMimeMessage* message, const MessageSource& source, const TopLevel* top,
            int64_t fallbackTime, int depth, std::string partPrefix, MessageContent& out)
        : msg_(message),
          obj_(GMIME_OBJECT(message)),
          src_(source),
          top_(top),
          fallbackTime_(fallbackTime),
          depth_(depth),
          prefix_(std::move(partPrefix)),
          out_(out) {}

    void Build() {
        MessageTimes times = SetHeaderProperties(msg_, top_, fallbackTime_, out_);
        deliveryTime_ = times.delivery;
        GMimeObject* root = g_mime_message_get_mime_part(msg_);
        std::string rootType = root ? MimeTypeOf(root) : "";
        std::string rootName =
            root && GMIME_IS_PART(root) ? TextOf(g_mime_part_get_filename(GMIME_PART(root))) : "";
        bool opaque = rootType == "application/pkcs7-mime" ||
                      rootType == "application/x-pkcs7-mime" ||
                      (rootType == "application/octet-stream" &&
                       fs::LowerAscii(ExtensionOf(rootName)) == ".p7m");
        std::string messageClass = "IPM.Note";
        if (root && rootType == "multipart/signed" && GMIME_IS_MULTIPART(root)) {
            messageClass = "IPM.Note.SMIME.MultipartSigned";
            GMimeObject* signedContent = g_mime_multipart_get_count(GMIME_MULTIPART(root)) > 0
                                             ? g_mime_multipart_get_part(GMIME_MULTIPART(root), 0)
                                             : nullptr;
            BodyChoice body;
            PickBody(signedContent, body, 64);
            SetBody(body);
            AddSmimeBlob(root, "multipart/signed", false);
        } else if (root && opaque && GMIME_IS_PART(root)) {
            messageClass = "IPM.Note.SMIME";
            AddSmimeBlob(root, "application/pkcs7-mime", true);
            const char* raw = RawHeader(root, "Content-Type");
            NamedValue nv;
            nv.name.guid = tag::kPsInternetHeaders;
            nv.name.name = std::u16string(u"content-type");
            nv.value = PropertyValue::StringUtf8(0x8000001F, Unfold(TextOf(raw)));
            out_.props.named.push_back(std::move(nv));
        } else {
            BodyChoice body;
            PickBody(root, body, 64);
            // The HTML must be known before the walk decides which images it shows inline.
            SetBody(body);
            WalkAttachments(root, body);
            ApplyTnefBody();
            if (std::string report = ApplyReport(root, messageClass, times.submit, out_);
                !report.empty()) {
                messageClass = std::move(report);
                classIcon_ = true;
            } else if (std::string meeting = ApplyCalendar(root, out_); !meeting.empty()) {
                messageClass = std::move(meeting);
                classIcon_ = true;
            }
        }
        out_.props.Set(PropertyValue::StringUtf8(tag::kMessageClass, messageClass));
        SetFlagsAndCounts();
    }

  private:
    const char* Header(const char* name) const { return g_mime_object_get_header(obj_, name); }

    void Warn(std::string text) {
        if (src_.warnings) src_.warnings->push_back(std::move(text));
    }

    // ---- bodies --------------------------------------------------------------------------

    static std::string Charset(GMimeObject* obj) {
        return TextOf(g_mime_object_get_content_type_parameter(obj, "charset"));
    }

    static std::string Bytes(GMimePart* part) { return DecodedText(part); }

    void SetBody(const BodyChoice& body) {
        auto& p = out_.props;
        std::string plainStorage;
        std::string_view plainText;
        uint32_t plainCp = 0;
        if (body.plain) {
            std::string_view raw = DecodedTextView(body.plain, plainStorage);
            std::string cs = EffectiveCharset(raw, Charset(GMIME_OBJECT(body.plain)));
            plainCp = CodePageOf(cs);
            plainText = PlainText(body.plain, raw, cs, plainStorage);
        }
        if (!body.aggregate.empty()) {
            SetAggregateBody(body.aggregate);
        } else if (body.html || body.enriched) {
            // The HTML as stored: a view of the part's bytes, or text put in `htmlStorage`.
            std::string htmlStorage;
            std::string_view html;
            auto keep = [&](std::string text) {
                htmlStorage = std::move(text);
                html = htmlStorage;
            };
            uint32_t cp = 0;
            if (body.html) {
                html = DecodedTextView(body.html, htmlStorage);
                std::string label = Charset(GMIME_OBJECT(body.html));
                if (label.empty()) {
                    std::string meta = HtmlMetaCharset(html);
                    if (!meta.empty() && CodePageOf(meta)) label = meta;
                }
                std::string cs = EffectiveCharset(html, label);
                cp = CodePageOf(cs);
                htmlUtf8_ = ConvertToUtf8(std::string(html), cs);
                if (cp == 0 || cp == 65000 || (cs == "us-ascii" && HasEightBit(html))) {
                    // No code page for this charset: store UTF-8 and say so in the document.
                    keep(ReplaceHtmlMetaCharset(htmlUtf8_, "utf-8"));
                    cp = 65001;
                } else if (label != cs && !HtmlMetaCharset(html).empty()) {
                    keep(ReplaceHtmlMetaCharset(html, cs));
                }
            } else {
                std::string raw = Bytes(body.enriched);
                std::string text = DecodeToUtf8(raw, Charset(GMIME_OBJECT(body.enriched)));
                GPtr<GMimeFilter> filter(g_mime_filter_enriched_new(0));
                char* outBuf = nullptr;
                size_t outLen = 0, prespace = 0;
                g_mime_filter_complete(filter.get(), text.data(), text.size(), 0, &outBuf, &outLen,
                                       &prespace);
                keep("<html><head><meta charset=\"utf-8\"></head><body>" +
                     std::string(outBuf ? outBuf : "", outLen) + "</body></html>");
                htmlUtf8_ = htmlStorage;
                cp = 65001;
            }
            // An empty HTML part leaves no HTML body: a message without one has none at all,
            // and readers take an empty binary value for a missing one.
            if (!html.empty())
                p.Set(PropertyValue::Binary(
                    tag::kHtml, std::span<const uint8_t>(
                                    reinterpret_cast<const uint8_t*>(html.data()), html.size())));
            std::string htmlText;
            if (!body.plain) htmlText = HtmlToText(htmlUtf8_);
            p.Set(PropertyValue::StringUtf8(tag::kBody, body.plain ? plainText : htmlText));
            p.Set(PropertyValue::Int32(tag::kInternetCodepage, int32_t(cp)));
            p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, html.empty() ? 1 : 3));
            hasBody_ = true;
        } else if (body.plain) {
            p.Set(PropertyValue::StringUtf8(tag::kBody, plainText));
            p.Set(PropertyValue::Int32(tag::kInternetCodepage, int32_t(plainCp ? plainCp : 65001)));
            p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, 1));
            hasBody_ = true;
        }
    }

    std::string PlainText(GMimePart* part) {
        std::string storage;
        std::string_view raw = DecodedTextView(part, storage);
        std::string cs = EffectiveCharset(raw, Charset(GMIME_OBJECT(part)));
        return std::string(PlainText(part, raw, cs, storage));
    }

    // The part's text in UTF-8. `raw` is its decoded content (possibly held in `storage`) and
    // `charset` what EffectiveCharset made of it. Text that needs no change is `raw` itself;
    // other text is put in `storage`.
    std::string_view PlainText(GMimePart* part, std::string_view raw, const std::string& charset,
                               std::string& storage) {
        GMimeObject* obj = GMIME_OBJECT(part);
        std::string_view text = raw;
        if (charset != "us-ascii" && !(charset == "utf-8" && IsValidUtf8(raw))) {
            storage = ConvertToUtf8(std::string(raw), charset);
            text = storage;
        }
        const char* format = g_mime_object_get_content_type_parameter(obj, "format");
        if (format && fs::EqualsNoCase(format, "flowed")) {
            const char* delsp = g_mime_object_get_content_type_parameter(obj, "delsp");
            std::string unflowed = UnflowText(text, delsp && fs::EqualsNoCase(delsp, "yes"));
            storage = std::move(unflowed);
            text = storage;
        }
        return text;
    }

    // One UTF-8 HTML body from inline text and picture parts; pictures are shown through
    // content IDs (made up where the part has none) and hidden from the attachment list.
    void SetAggregateBody(const std::vector<GMimePart*>& parts) {
        std::string html = "<html><head><meta charset=\"utf-8\"></head><body>\r\n";
        std::string text;
        for (GMimePart* part : parts) {
            GMimeObject* obj = GMIME_OBJECT(part);
            if (IsType(obj, "image", "*")) {
                std::string cid = TextOf(g_mime_object_get_content_id(obj));
                if (cid.empty()) {
                    auto r = RandomBytes(6);
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x%02x%02x", r[0], r[1], r[2],
                                  r[3], r[4], r[5]);
                    cid =
                        "part" + std::to_string(aggregateCids_.size() + 1) + "." + hex + "@inline";
                }
                aggregateCids_[obj] = cid;
                html += "<img src=\"cid:" + EscapeHtml(cid) + "\">\r\n";
                continue;
            }
            if (IsType(obj, "text", "html")) {
                std::string raw = Bytes(part);
                std::string cs = EffectiveCharset(raw, Charset(obj));
                std::string doc = ConvertToUtf8(std::move(raw), cs);
                html += HtmlBodyContent(doc) + "\r\n";
                text += HtmlToText(doc) + "\r\n";
            } else {
                std::string plain = PlainText(part);
                html += "<div>" + EscapeHtml(plain) + "</div>\r\n";
                text += plain;
            }
        }
        html += "</body></html>";
        htmlUtf8_ = html;
        auto& p = out_.props;
        p.Set(PropertyValue::Binary(
            tag::kHtml,
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(html.data()), html.size())));
        p.Set(PropertyValue::StringUtf8(tag::kBody, text));
        p.Set(PropertyValue::Int32(tag::kInternetCodepage, 65001));
        p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, 3));
        hasBody_ = true;
    }

    void ApplyTnefBody() {
        if (hasBody_ || !tnef_) return;
        auto& p = out_.props;
        if (!tnef_->body.empty()) p.Set(PropertyValue::StringUtf8(tag::kBody, tnef_->body));
        if (!tnef_->html.empty()) {
            p.Set(PropertyValue::Binary(tag::kHtml, tnef_->html));
            if (tnef_->htmlCodePage)
                p.Set(PropertyValue::Int32(tag::kInternetCodepage, int32_t(tnef_->htmlCodePage)));
            p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, 3));
        } else if (!tnef_->rtfCompressed.empty()) {
            p.Set(PropertyValue::Binary(tag::kRtfCompressed, tnef_->rtfCompressed));
            p.Set(PropertyValue::Bool(tag::kRtfInSync, true));
            p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, 2));
        } else if (!tnef_->body.empty()) {
            p.Set(PropertyValue::Int32(tag::kNativeBodyInfo, 1));
        }
    }

    // ---- attachments ---------------------------------------------------------------------

    Attachment& NewAttachment() {
        out_.attachments.emplace_back();
        Attachment& a = out_.attachments.back();
        SetAttachmentDefaults(a.props, int32_t(out_.attachments.size() - 1),
                              UnixToFiletime(deliveryTime_));
        return a;
    }

    void SetFileName(Attachment& a, std::string name, const std::string& mimeType) {
        SetAttachmentNames(a.props, std::move(name), mimeType, out_.attachments.size());
    }

    static void SetSize(Attachment& a, uint64_t size) {
        a.props.Set(
            PropertyValue::Int32(tag::kAttachSize, int32_t(std::min<uint64_t>(size, INT32_MAX))));
    }

    void SetData(Attachment& a, std::vector<uint8_t> data) {
        if (src_.inMemoryTotal) *src_.inMemoryTotal += data.size();
        SetSize(a, data.size());
        a.props.Set(PropertyValue(tag::kAttachDataBinary, std::move(data)));
    }

    bool MustStream(uint64_t size) const {
        if (size > src_.inMemoryLimit) return true;
        return src_.inMemoryTotal && *src_.inMemoryTotal + size > src_.inMemoryTotalLimit;
    }

    void SetSliceData(Attachment& a, const FileSlice& slice) {
        try {
            if (!MustStream(slice.length + slice.prefix.size())) {
                std::vector<uint8_t> data;
                ReadSlice(slice, [&](std::span<const uint8_t> c) {
                    data.insert(data.end(), c.begin(), c.end());
                });
                SetData(a, std::move(data));
                return;
            }
            uint64_t size = DecodedSize(slice);
            SetSize(a, size);
            a.props.Set(SliceProperty(tag::kAttachDataBinary, slice, size));
        } catch (const std::exception& e) {
            Warn(std::string("attachment data could not be read: ") + e.what());
            SetData(a, {});
        }
    }

    void AddSmimeBlob(GMimeObject* root, const std::string& mimeTag, bool decodedContent) {
        Attachment& a = NewAttachment();
        a.props.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
        a.props.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag, mimeTag));
        std::string name = decodedContent ? TextOf(g_mime_part_get_filename(GMIME_PART(root))) : "";
        SetFileName(a, name.empty() ? "smime.p7m" : name, mimeTag);
        if (decodedContent) {
            AddPartData(a, GMIME_PART(root), "");
            return;
        }
        // Clear-signed: the entity's Content-Type header and its content as stored, with line
        // ends in the CRLF form the signature was made over (files saved with LF lose it).
        std::string header =
            "Content-Type: " + Unfold(RawOf(RawHeader(root, "Content-Type"))) + "\r\n\r\n";
        std::vector<uint8_t> prefix(header.begin(), header.end());
        if (top_ && top_->messageEnd >= top_->bodyOffset) {
            FileSlice slice{src_.path,
                            top_->bodyOffset,
                            top_->messageEnd - top_->bodyOffset,
                            GMIME_CONTENT_ENCODING_DEFAULT,
                            prefix,
                            true};
            SetSliceData(a, slice);
        } else {
            auto content = SerializeObject(root, true);
            for (size_t i = 0; i < content.size(); ++i) {
                if (content[i] == '\n' && (i == 0 || content[i - 1] != '\r'))
                    prefix.push_back('\r');
                prefix.push_back(content[i]);
            }
            SetData(a, std::move(prefix));
        }
    }

    void AddPartData(Attachment& a, GMimePart* part, const std::string& path) {
        if (src_.partialEmlx &&
            g_mime_object_get_header(GMIME_OBJECT(part), "X-Apple-Content-Length")) {
            std::string looked;
            std::string file = FindPartialPayload(src_.path, path, &looked);
            if (file.empty()) {
                Warn("attachment " + path + " of " + src_.path +
                     " is not stored beside it (looked in " + looked +
                     "); imported without its data");
                SetData(a, {});
                return;
            }
            std::error_code ec;
            uint64_t size = std::filesystem::file_size(fs::PathFromUtf8(file), ec);
            if (!g_mime_part_get_filename(part))
                SetFileName(a, fs::Utf8FromPath(fs::PathFromUtf8(file).filename()),
                            MimeTypeOf(GMIME_OBJECT(part)));
            SetSliceData(a, FileSlice{file, 0, ec ? 0 : size, GMIME_CONTENT_ENCODING_DEFAULT, {}});
            return;
        }
        ContentRange range = RangeOf(part);
        if (range.inFile && MustStream(range.encodedSize) && !src_.path.empty()) {
            SetSliceData(a,
                         FileSlice{src_.path, range.offset, range.encodedSize, range.encoding, {}});
            return;
        }
        SetData(a, DecodedContent(part));
    }

    std::string ChildPath(const std::string& parent, int index) const {
        std::string n = std::to_string(index + 1);
        return parent.empty() ? n : parent + "." + n;
    }

    bool ReferencedByHtml(const std::string& cid, const std::string& location) {
        if (htmlUtf8_.empty()) return false;
        if (htmlLower_.empty()) htmlLower_ = fs::LowerAscii(htmlUtf8_);
        const std::string& html = htmlLower_;
        if (!cid.empty() && html.find("cid:" + fs::LowerAscii(cid)) != std::string::npos)
            return true;
        return !location.empty() && html.find(fs::LowerAscii(location)) != std::string::npos;
    }

    void WalkAttachments(GMimeObject* root, const BodyChoice& body) {
        if (!root) return;
        struct Item {
            GMimeObject* obj;
            GMimeObject* parent;
            std::string path;
        };
        std::vector<Item> stack;
        std::string rootPath = GMIME_IS_MULTIPART(root) ? prefix_ : ChildPath(prefix_, 0);
        stack.push_back({root, nullptr, rootPath});
        while (!stack.empty()) {
            Item item = std::move(stack.back());
            stack.pop_back();
            if (body.consumed.count(item.obj)) continue;
            if (GMIME_IS_MULTIPART(item.obj)) {
                auto* mp = GMIME_MULTIPART(item.obj);
                for (int i = g_mime_multipart_get_count(mp) - 1; i >= 0; --i)
                    stack.push_back(
                        {g_mime_multipart_get_part(mp, i), item.obj, ChildPath(item.path, i)});
                continue;
            }
            if (GMIME_IS_MESSAGE_PART(item.obj)) {
                AddEmbedded(GMIME_MESSAGE_PART(item.obj), item.path);
                continue;
            }
            if (GMIME_IS_PART(item.obj)) AddLeaf(GMIME_PART(item.obj), item.parent, item.path);
        }
    }

    void AddLeaf(GMimePart* part, GMimeObject* parent, const std::string& path) {
        GMimeObject* obj = GMIME_OBJECT(part);
        std::string type = MimeTypeOf(obj);
        std::string name = TextOf(g_mime_part_get_filename(part));
        if (!IsValidUtf8(name) || name.find("\xEF\xBF\xBD") != std::string::npos) {
            // The declared charset did not fit the bytes; read them again with the fallbacks.
            for (auto [header, param] : {std::pair{"Content-Disposition", "filename"},
                                         std::pair{"Content-Type", "name"}}) {
                std::string again = ExtendedParameter(RawOf(RawHeader(obj, header)), param);
                if (!again.empty()) {
                    name = again;
                    break;
                }
            }
        }
        if (name.empty()) name = Unfold(TextOf(g_mime_part_get_content_description(part)));
        if (IsTnef(type, name) && AddTnef(part)) return;
        if (type == "message/rfc822" && depth_ + 1 <= kMaxEmbeddedDepth &&
            g_mime_part_get_content_encoding(part) != GMIME_CONTENT_ENCODING_DEFAULT &&
            AddEncodedEmbedded(part, path))
            return;

        Attachment& a = NewAttachment();
        auto& p = a.props;
        p.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
        p.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag,
                                        IsTnef(type, name) ? "application/octet-stream" : type));
        SetFileName(a, name, type);
        if (type.rfind("text/", 0) == 0) {
            std::string cs = Charset(obj);
            if (!cs.empty()) p.Set(PropertyValue::StringUtf8(tag::kTextAttachmentCharset, cs));
        }
        std::string cid = TextOf(g_mime_object_get_content_id(obj));
        std::string location = TextOf(g_mime_part_get_content_location(part));
        if (!cid.empty()) p.Set(PropertyValue::StringUtf8(tag::kAttachContentId, cid));
        if (!location.empty())
            p.Set(PropertyValue::StringUtf8(tag::kAttachContentLocation, location));
        if (const char* base = g_mime_object_get_header(obj, "Content-Base"))
            p.Set(PropertyValue::StringUtf8(tag::kAttachContentBase, Unfold(base)));
        bool inRelated = parent && IsType(parent, "multipart", "related");
        auto aggregated = aggregateCids_.find(obj);
        if (aggregated != aggregateCids_.end()) {
            cid = aggregated->second;
            p.Set(PropertyValue::StringUtf8(tag::kAttachContentId, cid));
        }
        if ((aggregated != aggregateCids_.end() && IsInlineImageType(type)) ||
            (inRelated && (!cid.empty() || !location.empty()) && IsInlineImageType(type) &&
             ReferencedByHtml(cid, location))) {
            p.Set(PropertyValue::Int32(tag::kAttachFlags, tag::kAttachFlagRenderedInBody));
            p.Set(PropertyValue::Bool(tag::kAttachmentHidden, true));
        }
        for (const char* param : {"creation-date", "modification-date"}) {
            const char* v = g_mime_object_get_content_disposition_parameter(obj, param);
            if (auto t = v ? ParseMailDate(v) : std::nullopt) {
                p.Set(PropertyValue::Time(
                    param[0] == 'c' ? tag::kCreationTime : tag::kLastModificationTime,
                    UnixToFiletime(*t)));
            }
        }
        AddPartData(a, part, path);
    }

    bool AddTnef(GMimePart* part) {
        if (RangeOf(part).encodedSize > kMaxInMemoryText) return false;
        auto data = DecodedContent(part);
        std::string error;
        auto content = ParseTnef(data, &error);
        if (!content) {
            Warn("winmail.dat kept as a file: " + error);
            return false;
        }
        for (auto& t : content->attachments) {
            Attachment& a = NewAttachment();
            auto& p = a.props;
            if (t.embedded) {
                p.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachEmbeddedMessage));
                a.embedded = MessageFromTnef(*t.embedded, UnixToFiletime(deliveryTime_));
                const PropertyValue* subject = a.embedded->props.Find(tag::kSubject);
                p.Set(
                    PropertyValue::String(tag::kDisplayName, subject ? subject->AsString() : u""));
                SetSize(a, t.data.size());
                continue;
            }
            p.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
            std::string type =
                t.mimeType.empty() ? "application/octet-stream" : fs::LowerAscii(t.mimeType);
            p.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag, type));
            SetFileName(a, t.name, t.embeddedObject ? "message/rfc822" : type);
            if (!t.contentId.empty())
                p.Set(PropertyValue::StringUtf8(tag::kAttachContentId, t.contentId));
            SetData(a, std::move(t.data));
        }
        tnef_ = std::move(content);
        return true;
    }

    void AddEmbedded(GMimeMessagePart* part, const std::string& path) {
        AddEmbeddedMessage(g_mime_message_part_get_message(part), path);
    }

    // A message/rfc822 part sent with a transfer encoding is not parsed as a message by
    // GMime; decode it and parse that. False when it holds no message.
    bool AddEncodedEmbedded(GMimePart* part, const std::string& path) {
        if (RangeOf(part).encodedSize > kMaxInMemoryText) return false;
        auto bytes = DecodedContent(part);
        GPtr<GMimeStream> mem(g_mime_stream_mem_new_with_buffer(
            reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(mem.get()));
        GPtr<GMimeMessage> inner(
            g_mime_parser_construct_message(parser.get(), LooseParserOptions()));
        GMimeHeaderList* headers =
            inner ? g_mime_object_get_header_list(GMIME_OBJECT(inner.get())) : nullptr;
        if (!headers || g_mime_header_list_get_count(headers) == 0) return false;
        // Its parts live in memory, not in the source file.
        MessageSource memory = src_;
        memory.path.clear();
        memory.partialEmlx = false;
        Attachment& a = NewAttachment();
        auto content = std::make_shared<MessageContent>();
        BuildMessage(inner.get(), memory, nullptr, deliveryTime_, depth_ + 1, path, *content);
        SetEmbeddedProps(a, std::move(content));
        return true;
    }

    void SetEmbeddedProps(Attachment& a, std::shared_ptr<MessageContent> content) {
        auto& p = a.props;
        p.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachEmbeddedMessage));
        p.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag, "message/rfc822"));
        const PropertyValue* subject = content->props.Find(tag::kSubject);
        p.Set(PropertyValue::String(tag::kDisplayName, subject ? subject->AsString() : u""));
        const PropertyValue* size = content->props.Find(tag::kMessageSize);
        SetSize(a, size ? uint64_t(size->AsInt32()) : 0);
        a.embedded = std::move(content);
    }

    void AddEmbeddedMessage(GMimeMessage* inner, const std::string& path) {
        if (!inner || depth_ + 1 > kMaxEmbeddedDepth) {
            Attachment& a = NewAttachment();
            a.props.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
            a.props.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag, "message/rfc822"));
            SetFileName(a, "", "message/rfc822");
            SetData(a,
                    inner ? SerializeObject(GMIME_OBJECT(inner), false) : std::vector<uint8_t>{});
            if (inner)
                Warn("message nested deeper than " + std::to_string(kMaxEmbeddedDepth) +
                     " levels kept as an .eml attachment");
            return;
        }
        Attachment& a = NewAttachment();
        auto content = std::make_shared<MessageContent>();
        BuildMessage(inner, src_, nullptr, deliveryTime_, depth_ + 1, path, *content);
        SetEmbeddedProps(a, std::move(content));
    }

    // ---- flags and counts ----------------------------------------------------------------

    void SetFlagsAndCounts() {
        auto& p = out_.props;
        bool hasAttach = !out_.attachments.empty();
        int32_t flags = tag::kMfRead;
        std::optional<uint64_t> emlxFlags;
        if (top_ && top_->emlx) emlxFlags = top_->emlx->flags;
        if (emlxFlags) {
            flags = (*emlxFlags & emlx_flag::kRead) ? tag::kMfRead : 0;
            if (*emlxFlags & emlx_flag::kDraft) flags |= tag::kMfUnsent;
        }
        if (const char* unsent = Header("X-Unsent"); unsent && Unfold(unsent) == "1")
            flags |= tag::kMfUnsent;
        if (hasAttach) flags |= tag::kMfHasAttach;
        p.Set(PropertyValue::Int32(tag::kMessageFlags, flags));
        p.Set(PropertyValue::Bool(tag::kHasAttach, hasAttach));

        bool anyVisible =
            std::any_of(out_.attachments.begin(), out_.attachments.end(), [](const Attachment& a) {
                const PropertyValue* h = a.props.Find(tag::kAttachmentHidden);
                return !h || !h->AsBool();
            });
        if (hasAttach && !anyVisible) {
            NamedValue nv;
            nv.name.guid = tag::kPsetidCommon;
            nv.name.name = tag::kLidSmartNoAttach;
            nv.value = PropertyValue::Bool(0x8000000B, true);
            p.named.push_back(std::move(nv));
        }

        int32_t icon = (flags & tag::kMfRead) ? 0x100 : 0x101;
        if (emlxFlags) {
            if (*emlxFlags & emlx_flag::kAnswered) {
                p.Set(PropertyValue::Int32(tag::kLastVerbExecuted, 102));
                icon = 0x105;
            } else if (*emlxFlags & emlx_flag::kForwarded) {
                p.Set(PropertyValue::Int32(tag::kLastVerbExecuted, 104));
                icon = 0x106;
            }
            if (*emlxFlags & (emlx_flag::kAnswered | emlx_flag::kForwarded))
                p.Set(PropertyValue::Time(tag::kLastVerbExecutionTime,
                                          UnixToFiletime(deliveryTime_)));
            if (*emlxFlags & emlx_flag::kFlagged) {
                p.Set(PropertyValue::Int32(tag::kFlagStatus, 2));
                p.Set(PropertyValue::Int32(tag::kFollowupIcon, 6));
                NamedValue nv;
                nv.name.guid = tag::kPsetidCommon;
                nv.name.name = tag::kLidFlagRequest;
                nv.value = PropertyValue::String(0x8000001F, u"Follow up");
                p.named.push_back(std::move(nv));
            }
        }
        // A report or meeting item is drawn with its class's own icon.
        if (!classIcon_) p.Set(PropertyValue::Int32(tag::kIconIndex, icon));

        uint64_t size = top_ ? top_->messageSize : ContentSize(out_);
        p.Set(
            PropertyValue::Int32(tag::kMessageSize, int32_t(std::min<uint64_t>(size, INT32_MAX))));
    }

    GMimeMessage* msg_;
    GMimeObject* obj_;
    const MessageSource& src_;
    const TopLevel* top_;
    int64_t fallbackTime_;
    int depth_;
    std::string prefix_;
    MessageContent& out_;

    std::string htmlUtf8_;
    std::string htmlLower_;  // for case-blind content-ID lookups
    bool hasBody_ = false;
    bool classIcon_ = false;
    int64_t deliveryTime_ = 0;
    std::optional<TnefContent> tnef_;
    std::unordered_map<GMimeObject*, std::string> aggregateCids_;
};

}  // namespace

void BuildMessage(GMimeMessage* message, const MessageSource& source, const TopLevel* top,
                  int64_t fallbackTime, int depth, const std::string& partPrefix,
                  MessageContent& out) {
    out.props.values.reserve(64);  // what an ordinary message has, without regrowing
    Builder(message, source, top, fallbackTime, depth, partPrefix, out).Build();
}

}  // namespace mime
