#pragma once

#include <gmime/gmime.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mime {

// Initialises GMime once per process (required before any GMime call).
void EnsureGMime();

struct GObjectUnref {
    void operator()(void* p) const {
        if (p) g_object_unref(p);
    }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<char, GFreeDeleter>;

// Parser options for messy real-world mail: loose address/parameter/RFC 2047 rules, addresses
// without a domain, 8-bit header fallback UTF-8 then windows-1252. Shared, never freed.
GMimeParserOptions* LooseParserOptions();

// GMime text as UTF-8, with any bytes it passed through undecoded read as windows-1252.
std::string TextOf(const char* text);
// GMime bytes as they are (empty for null).
inline std::string RawOf(const char* text) {
    return text ? text : "";
}

// The raw (undecoded, folded) value of a header of an entity, or null.
const char* RawHeader(GMimeObject* object, const char* name);

// Random bytes for identifiers (search keys, content IDs); not for secrets.
std::vector<uint8_t> RandomBytes(size_t n);
// Starts this thread's RandomBytes() over from `seed` (a message's source digest), so that a
// message's generated identifiers do not depend on which thread reads it. Done only where the
// output is to be reproducible (see pst/messaging/reproducible.h).
void SeedRandomBytes(const std::array<uint8_t, 32>& seed);

// "type/subtype" in lower case.
std::string MimeTypeOf(GMimeObject* object);
bool IsType(GMimeObject* object, const char* type, const char* subtype);

// Encoded size of a part's content, and the file range it occupies when it is read straight
// from the source file.
struct ContentRange {
    uint64_t encodedSize = 0;
    bool inFile = false;
    uint64_t offset = 0;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;
};
ContentRange RangeOf(GMimePart* part);

bool IsAttachmentDisposition(GMimeObject* object);

// Bytes of a part's content after transfer decoding.
std::vector<uint8_t> DecodedContent(GMimePart* part);
// The same as text (one copy less for bodies).
std::string DecodedText(GMimePart* part);
// The same without a copy when the content needs no transfer decoding and sits in memory: a
// view of the parsed bytes, valid while the part lives; otherwise the text put in `storage`.
std::string_view DecodedTextView(GMimePart* part, std::string& storage);

// Entity serialised by GMime (headers and content as parsed, unchanged parts byte-exact).
std::vector<uint8_t> SerializeObject(GMimeObject* object, bool contentOnly);

}  // namespace mime
