#include "mime/body_selection.h"

#include <cstring>

#include "mime/gmime_support.h"

namespace mime {
namespace {

enum class TextKind { kNone, kPlain, kHtml, kEnriched };

TextKind TextKindOf(GMimeObject* obj) {
    if (!GMIME_IS_PART(obj) || IsAttachmentDisposition(obj)) return TextKind::kNone;
    if (IsType(obj, "text", "html")) return TextKind::kHtml;
    if (IsType(obj, "text", "plain")) return TextKind::kPlain;
    if (IsType(obj, "text", "enriched") || IsType(obj, "text", "richtext"))
        return TextKind::kEnriched;
    return TextKind::kNone;
}

// A mixed multipart of inline text and inline images only (as some mailers send text with
// pictures between paragraphs) is read as one body instead of a first part and attachments.
bool PickAggregate(GMimeMultipart* mixed, BodyChoice& c) {
    int n = g_mime_multipart_get_count(mixed);
    if (n < 2) return false;
    bool image = false;
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(mixed, i);
        if (!GMIME_IS_PART(child) || IsAttachmentDisposition(child)) return false;
        bool text = IsType(child, "text", "plain") || IsType(child, "text", "html");
        bool picture = IsType(child, "image", "*");
        const char* disposition = g_mime_object_get_disposition(child);
        // Only pictures the sender marked inline are shown in the text.
        if (picture && !(disposition && std::strcmp(disposition, "inline") == 0)) return false;
        if (!text && !picture) return false;
        if (RangeOf(GMIME_PART(child)).encodedSize > kMaxInMemoryText) return false;
        image = image || picture;
    }
    if (!image) return false;
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(mixed, i);
        c.aggregate.push_back(GMIME_PART(child));
        if (!IsType(child, "image", "*")) c.consumed.insert(child);
    }
    return true;
}

GMimeObject* RelatedRoot(GMimeMultipart* related) {
    int n = g_mime_multipart_get_count(related);
    if (n == 0) return nullptr;
    if (const char* start =
            g_mime_object_get_content_type_parameter(GMIME_OBJECT(related), "start")) {
        std::string id = start;
        if (id.size() > 2 && id.front() == '<' && id.back() == '>')
            id = id.substr(1, id.size() - 2);
        for (int i = 0; i < n; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(related, i);
            const char* cid = g_mime_object_get_content_id(child);
            if (cid && id == cid) return child;
        }
    }
    return g_mime_multipart_get_part(related, 0);
}

// multipart/alternative: html > enriched > plain; every text alternative is consumed.
bool PickAlternative(GMimeMultipart* alt, BodyChoice& c, int budget) {
    int n = g_mime_multipart_get_count(alt);
    BodyChoice best;
    for (int i = 0; i < n; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(alt, i);
        BodyChoice sub;
        if (!PickBody(child, sub, budget - 1)) continue;
        // Later alternatives are the sender's preferred ones; keep the richest.
        if (sub.rich()) {
            best.html = sub.html;
            best.enriched = sub.enriched;
            best.aggregate = sub.aggregate;
        }
        if (sub.plain && !sub.rich()) best.plain = sub.plain;
        best.consumed.insert(sub.consumed.begin(), sub.consumed.end());
    }
    if (!best.any()) return false;
    c.html = best.html;
    c.enriched = best.enriched;
    c.plain = best.plain;
    c.aggregate = best.aggregate;
    c.consumed.insert(best.consumed.begin(), best.consumed.end());
    return true;
}

}  // namespace

bool PickBody(GMimeObject* obj, BodyChoice& c, int budget) {
    while (obj && budget > 0) {
        --budget;
        if (GMIME_IS_PART(obj)) {
            switch (TextKindOf(obj)) {
                case TextKind::kHtml:
                    c.html = GMIME_PART(obj);
                    break;
                case TextKind::kPlain:
                    c.plain = GMIME_PART(obj);
                    break;
                case TextKind::kEnriched:
                    c.enriched = GMIME_PART(obj);
                    break;
                case TextKind::kNone:
                    return false;
            }
            if (RangeOf(GMIME_PART(obj)).encodedSize > kMaxInMemoryText) {
                c = BodyChoice{};
                return false;
            }
            c.consumed.insert(obj);
            return true;
        }
        if (!GMIME_IS_MULTIPART(obj)) return false;
        auto* mp = GMIME_MULTIPART(obj);
        if (g_mime_multipart_get_count(mp) == 0) return false;
        if (IsType(obj, "multipart", "alternative")) return PickAlternative(mp, c, budget);
        if (IsType(obj, "multipart", "related")) {
            GMimeObject* root = RelatedRoot(mp);
            BodyChoice sub;
            if (!PickBody(root, sub, budget) || !sub.html) {
                // A related part whose root is not HTML is read like a mixed one.
                if (root != g_mime_multipart_get_part(mp, 0)) return false;
                if (!sub.any()) return false;
            }
            c = std::move(sub);
            return true;
        }
        if (IsType(obj, "multipart", "mixed") && PickAggregate(mp, c)) return true;
        // mixed, signed, report and unknown multiparts: the first child gives the body.
        obj = g_mime_multipart_get_part(mp, 0);
    }
    return false;
}

}  // namespace mime
