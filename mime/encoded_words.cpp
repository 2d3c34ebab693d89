#include "mime/encoded_words.h"

#include <vector>

#include "mime/base64.h"

namespace mime {
namespace {

struct Word {
    size_t begin, end;  // the whole "=?...?=" in the raw text
    std::string_view charset;
    char encoding;  // 'B' or 'Q'
    std::string_view payload;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The encoded word starting at `at` ("=?charset?X?payload?="), if it is one.
std::optional<Word> WordAt(std::string_view s, size_t at) {
    if (s.compare(at, 2, "=?") != 0) return std::nullopt;
    const size_t q1 = s.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 == at + 2 || q1 + 3 > s.size() || s[q1 + 2] != '?')
        return std::nullopt;
    const char enc = char(s[q1 + 1] & ~0x20);
    if (enc != 'B' && enc != 'Q') return std::nullopt;
    const size_t end = s.find("?=", q1 + 3);
    if (end == std::string_view::npos) return std::nullopt;
    for (size_t i = at + 2; i < end; ++i)
        if (IsSpace(s[i])) return std::nullopt;
    return Word{at, end + 2, s.substr(at + 2, q1 - at - 2), enc, s.substr(q1 + 3, end - q1 - 3)};
}

bool SameCharset(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

std::string EncodeBase64(std::string_view in) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const uint32_t v =
            uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8 | uint8_t(in[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
    }
    if (i + 1 == in.size()) {
        const uint32_t v = uint32_t(uint8_t(in[i])) << 16;
        out += kAlphabet[(v >> 18) & 63], out += kAlphabet[(v >> 12) & 63], out += "==";
    } else if (i + 2 == in.size()) {
        const uint32_t v = uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8;
        out += kAlphabet[(v >> 18) & 63], out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63], out += '=';
    }
    return out;
}

// A payload that does not end where its base64 ends cannot be followed by more base64.
bool EndsEarly(std::string_view payload) {
    const size_t pad = payload.find('=');
    return pad != std::string_view::npos || payload.size() % 4 != 0;
}

}  // namespace

std::optional<std::string> JoinSplitBase64Words(std::string_view raw) {
    if (raw.find("=?") == std::string_view::npos) return std::nullopt;
    std::string out;
    size_t copied = 0;  // raw[copied..] is not yet in `out`
    bool changed = false;
    size_t at = raw.find("=?");
    while (at != std::string_view::npos) {
        std::optional<Word> first = WordAt(raw, at);
        if (!first) {
            at = raw.find("=?", at + 2);
            continue;
        }
        // The group: base64 words of the same charset with only white space between them.
        std::vector<Word> group{*first};
        if (first->encoding == 'B') {
            while (true) {
                size_t next = group.back().end;
                while (next < raw.size() && IsSpace(raw[next])) ++next;
                std::optional<Word> w = WordAt(raw, next);
                if (!w || w->encoding != 'B' || !SameCharset(w->charset, first->charset)) break;
                group.push_back(*w);
            }
        }
        bool needed = false;
        for (size_t i = 0; i + 1 < group.size(); ++i) needed |= EndsEarly(group[i].payload);
        if (needed) {
            std::string bytes;
            for (const Word& w : group) {
                const size_t at = bytes.size();
                bytes.resize(at + Base64DecodedBound(w.payload.size()));
                bytes.resize(at + DecodeBase64(w.payload, reinterpret_cast<uint8_t*>(&bytes[at])));
            }
            out.append(raw.substr(copied, first->begin - copied));
            out += "=?";
            out += first->charset;
            out += "?B?";
            out += EncodeBase64(bytes);
            out += "?=";
            copied = group.back().end;
            changed = true;
        }
        at = raw.find("=?", group.back().end);
    }
    if (!changed) return std::nullopt;
    out.append(raw.substr(copied));
    return out;
}

void RepairSplitEncodedWords(GMimeObject* object) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    if (!list) return;
    for (int i = 0, n = g_mime_header_list_get_count(list); i < n; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
        if (!raw) continue;
        if (std::optional<std::string> repaired = JoinSplitBase64Words(raw))
            g_mime_header_set_raw_value(header, repaired->c_str());
    }
}

}  // namespace mime
