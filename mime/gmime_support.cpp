#include "mime/gmime_support.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>

#include "fs/text.h"
#include "mime/base64.h"
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

namespace {
std::mt19937_64& ThreadRandom() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    return rng;
}
}  // namespace

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = uint8_t(ThreadRandom()());
    return out;
}

void SeedRandomBytes(const std::array<uint8_t, 32>& seed) {
    std::seed_seq sequence(seed.begin(), seed.end());
    ThreadRandom().seed(sequence);
}

std::string MimeTypeOf(GMimeObject* object) {
    GMimeContentType* ct = object ? g_mime_object_get_content_type(object) : nullptr;
    if (!ct) return "application/octet-stream";
    const char* type = g_mime_content_type_get_media_type(ct);
    const char* sub = g_mime_content_type_get_media_subtype(ct);
    return fs::LowerAscii(std::string(type ? type : "application") + "/" +
                          (sub ? sub : "octet-stream"));
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
    // Parts parsed from a file (read whole or through a descriptor) are bounded by offsets
    // into that file.
    if ((GMIME_IS_STREAM_FS(s) || GMIME_IS_STREAM_MEM(s)) && s->bound_start >= 0) {
        r.inFile = true;
        r.offset = uint64_t(s->bound_start);
    }
    return r;
}

bool IsAttachmentDisposition(GMimeObject* obj) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(obj);
    return d && g_mime_content_disposition_is_attachment(d);
}

namespace {

// The part's encoded bytes when they already sit in memory (content parsed from a file read
// whole, or from decoded data): a view into GMime's buffer, valid while the part lives.
std::optional<std::string_view> EncodedInMemory(GMimeDataWrapper* content) {
    GMimeStream* s = g_mime_data_wrapper_get_stream(content);
    if (!s || !GMIME_IS_STREAM_MEM(s)) return std::nullopt;
    GByteArray* buffer = GMIME_STREAM_MEM(s)->buffer;
    if (!buffer) return std::nullopt;
    const auto size = gint64(buffer->len);
    const gint64 start = std::clamp<gint64>(s->bound_start, 0, size);
    const gint64 end = s->bound_end < 0 ? size : std::clamp<gint64>(s->bound_end, start, size);
    return std::string_view(reinterpret_cast<const char*>(buffer->data) + start,
                            size_t(end - start));
}

// Transfer-decoded content as `Bytes` (a byte vector or a string), made once at its size.
template <typename Bytes>
Bytes Decoded(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    const auto encoded = EncodedInMemory(content);
    // uuencoded data keeps the stream path: its decoder looks for the begin line there.
    if (!encoded || encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
        GPtr<GMimeStream> mem(g_mime_stream_mem_new());
        g_mime_data_wrapper_write_to_stream(content, mem.get());
        GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
        return Bytes(array->data, array->data + array->len);
    }
    if (encoding == GMIME_CONTENT_ENCODING_BASE64) {
        Bytes bytes;
        bytes.resize(Base64DecodedBound(encoded->size()));
        bytes.resize(DecodeBase64(*encoded, reinterpret_cast<uint8_t*>(bytes.data())));
        return bytes;
    }
    if (encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE)
        return Bytes(encoded->begin(), encoded->end());
    // Quoted-printable: GMime's own decoder, stepped straight into the result. Room is made
    // per piece as GMime asks for it; decoded text is never longer than the encoded.
    constexpr size_t kPiece = 16 * 1024;
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    Bytes bytes;
    bytes.reserve(encoded->size() +
                  g_mime_encoding_outlen(&state, std::min(encoded->size(), kPiece)));
    auto run = [&](std::string_view piece, bool last) {
        const size_t at = bytes.size();
        bytes.resize(at + g_mime_encoding_outlen(&state, piece.size()));
        auto* out = reinterpret_cast<char*>(bytes.data() + at);
        const size_t n = last ? g_mime_encoding_flush(&state, piece.data(), piece.size(), out)
                              : g_mime_encoding_step(&state, piece.data(), piece.size(), out);
        bytes.resize(at + n);
    };
    for (size_t at = 0; at < encoded->size(); at += kPiece) run(encoded->substr(at, kPiece), false);
    run({}, true);
    return bytes;
}

}  // namespace

std::vector<uint8_t> DecodedContent(GMimePart* part) {
    return Decoded<std::vector<uint8_t>>(part);
}

std::string DecodedText(GMimePart* part) {
    return Decoded<std::string>(part);
}

std::string_view DecodedTextView(GMimePart* part, std::string& storage) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content) {
        const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
        const bool transferDecoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                                     encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                                     encoding == GMIME_CONTENT_ENCODING_UUENCODE;
        if (!transferDecoded)
            if (auto encoded = EncodedInMemory(content)) return *encoded;
    }
    storage = DecodedText(part);
    return storage;
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
