#include "mime/gmime_support.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "mime/charset.h"

namespace mime {

void EnsureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* LooseParserOptions() {
    static GMimeParserOptions* options = [] {
        EnsureGMime();
        GMimeParserOptions* o = g_mime_parser_options_new();
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(o, TRUE);
        const char* fallback[] = {"utf-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        return o;
    }();
    return options;
}

std::string TextOf(const char* text) {
    return text ? CleanUtf8(text) : std::string();
}

const char* RawHeader(GMimeObject* object, const char* name) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    GMimeHeader* h = list ? g_mime_header_list_get_header(list, name) : nullptr;
    return h ? g_mime_header_get_raw_value(h) : nullptr;
}

std::vector<uint8_t> RandomBytes(size_t n) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = uint8_t(rng());
    return out;
}

std::string MimeTypeOf(GMimeObject* object) {
    GMimeContentType* ct = object ? g_mime_object_get_content_type(object) : nullptr;
    if (!ct) return "application/octet-stream";
    const char* type = g_mime_content_type_get_media_type(ct);
    const char* sub = g_mime_content_type_get_media_subtype(ct);
    std::string s = std::string(type ? type : "application") + "/" + (sub ? sub : "octet-stream");
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return s;
}

bool IsType(GMimeObject* object, const char* type, const char* subtype) {
    GMimeContentType* ct = object ? g_mime_object_get_content_type(object) : nullptr;
    return ct && g_mime_content_type_is_type(ct, type, subtype);
}

ContentRange RangeOf(GMimePart* part) {
    ContentRange r;
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return r;
    GMimeStream* s = g_mime_data_wrapper_get_stream(content);
    r.encoding = g_mime_data_wrapper_get_encoding(content);
    if (!s) return r;
    gint64 len = g_mime_stream_length(s);
    r.encodedSize = len > 0 ? uint64_t(len) : 0;
    if (GMIME_IS_STREAM_FS(s) && s->bound_start >= 0) {
        r.inFile = true;
        r.offset = uint64_t(s->bound_start);
    }
    return r;
}

bool IsAttachmentDisposition(GMimeObject* obj) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(obj);
    return d && g_mime_content_disposition_is_attachment(d);
}

std::vector<uint8_t> DecodedContent(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::vector<uint8_t>(array->data, array->data + array->len);
}

std::string DecodedText(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, mem.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

std::vector<uint8_t> SerializeObject(GMimeObject* object, bool contentOnly) {
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    if (contentOnly)
        g_mime_object_write_content_to_stream(object, nullptr, mem.get());
    else
        g_mime_object_write_to_stream(object, nullptr, mem.get());
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::vector<uint8_t>(array->data, array->data + array->len);
}

}  // namespace mime
