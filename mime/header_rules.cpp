#include "mime/header_rules.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "fs/text.h"

namespace mime {
namespace {

using fs::EqualsNoCase;
using fs::Trim;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The <...> message IDs in a References or In-Reply-To value, in order.
std::vector<std::string_view> MessageIds(std::string_view value) {
    std::vector<std::string_view> ids;
    for (size_t at = value.find('<'); at != std::string_view::npos; at = value.find('<', at)) {
        const size_t end = value.find('>', at);
        if (end == std::string_view::npos) break;
        ids.push_back(value.substr(at, end + 1 - at));
        at = end + 1;
    }
    return ids;
}

}  // namespace

std::vector<uint8_t> DerivedConversationIndex(std::string_view references,
                                              std::string_view inReplyTo,
                                              std::string_view messageId, uint64_t filetime) {
    const auto referenced = MessageIds(references);
    const auto repliedTo = MessageIds(inReplyTo);
    std::string root;
    size_t replyLevels = 0;
    if (!referenced.empty()) {
        root = RemoveWhitespace(referenced.front());
        replyLevels = referenced.size();
    } else if (!repliedTo.empty()) {
        root = RemoveWhitespace(repliedTo.front());
        replyLevels = 1;
    } else {
        root = RemoveWhitespace(messageId);
        if (!root.empty() && root.front() != '<') root = "<" + root + ">";
    }
    if (root.empty()) return {};

    std::vector<uint8_t> index{0x01};
    for (int i = 7; i >= 3; --i) index.push_back(uint8_t(filetime >> (8 * i)));
    GChecksum* md5 = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(md5, reinterpret_cast<const guchar*>(root.data()), gssize(root.size()));
    uint8_t digest[16];
    gsize length = sizeof digest;
    g_checksum_get_digest(md5, digest, &length);
    g_checksum_free(md5);
    index.insert(index.end(), digest, digest + 16);
    // A child block: time difference to the header (none: the header holds this message's own
    // time), then a random nibble and a sequence nibble.
    for (size_t i = 0; i < std::min<size_t>(replyLevels, 64); ++i)
        index.insert(index.end(), {0, 0, 0, 0, uint8_t(digest[i % 16] & 0xF0)});
    return index;
}

SubjectParts SplitSubject(std::u16string_view subject) {
    for (size_t n = 1; n <= 3 && n < subject.size(); ++n) {
        char16_t c = subject[n - 1];
        if (c == u':' || IsBlank(c) || (c >= u'0' && c <= u'9')) break;
        if (subject[n] != u':') continue;
        size_t rest = n + 1;
        if (rest >= subject.size() || !IsBlank(subject[rest])) break;
        while (rest < subject.size() && IsBlank(subject[rest])) ++rest;
        SubjectParts parts;
        parts.prefix = std::u16string(subject.substr(0, n)) + u": ";
        parts.normalized = std::u16string(subject.substr(rest));
        return parts;
    }
    return {u"", std::u16string(subject)};
}

int32_t ImportanceOf(const HeaderLookup& header) {
    if (const char* v = header("Importance")) {
        std::string s(Trim(v));
        if (EqualsNoCase(s, "low")) return 0;
        if (EqualsNoCase(s, "normal")) return 1;
        if (EqualsNoCase(s, "high")) return 2;
    }
    if (const char* v = header("X-Priority")) {
        std::string s(Trim(v));
        if (!s.empty() && s[0] >= '1' && s[0] <= '5') {
            char d = s[0];
            return d <= '2' ? 2 : d == '3' ? 1 : 0;
        }
    }
    if (const char* v = header("X-MSMail-Priority")) {
        std::string s(Trim(v));
        if (EqualsNoCase(s, "low")) return 0;
        if (EqualsNoCase(s, "normal")) return 1;
        if (EqualsNoCase(s, "high")) return 2;
    }
    if (auto p = PriorityOf(header)) return *p + 1;
    return 1;
}

std::optional<int32_t> PriorityOf(const HeaderLookup& header) {
    const char* v = header("Priority");
    if (!v) return std::nullopt;
    std::string s(Trim(v));
    if (EqualsNoCase(s, "urgent")) return 1;
    if (EqualsNoCase(s, "normal")) return 0;
    if (EqualsNoCase(s, "non-urgent")) return -1;
    return std::nullopt;
}

int32_t SensitivityOf(const HeaderLookup& header) {
    const char* v = header("Sensitivity");
    if (!v) return 0;
    std::string s(Trim(v));
    if (EqualsNoCase(s, "personal")) return 1;
    if (EqualsNoCase(s, "private")) return 2;
    if (EqualsNoCase(s, "company-confidential")) return 3;
    return 0;
}

std::optional<int64_t> ParseMailDate(std::string_view text) {
    std::string s = Unfold(text);
    if (s.empty()) return std::nullopt;
    GDateTime* dt = g_mime_utils_header_decode_date(s.c_str());
    if (!dt) return std::nullopt;
    int64_t t = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    // GMime answers the epoch for text without any date in it.
    constexpr int64_t kYear2200 = 7258118400LL;
    if (t <= 0 || t >= kYear2200) return std::nullopt;
    return t;
}

std::optional<int64_t> ReceivedDate(std::string_view value) {
    size_t semi = value.rfind(';');
    if (semi == std::string_view::npos) return std::nullopt;
    return ParseMailDate(value.substr(semi + 1));
}

std::string NormalizeHeaderBlock(std::string_view raw) {
    // A leading mbox separator line ("From sender date") is no header field; readers that
    // rebuild a message from this block would take it for the start of the body.
    if (raw.rfind("From ", 0) == 0) {
        size_t name = raw.find_first_not_of(' ', 4);
        if (name == std::string_view::npos || raw[name] != ':') {
            size_t nl = raw.find('\n');
            raw.remove_prefix(nl == std::string_view::npos ? raw.size() : nl + 1);
        }
    }
    // A line that neither starts a field nor continues one (a broken fold) is made a
    // continuation, so that readers parsing the block again do not stop there.
    auto startsField = [](std::string_view line) {
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) return false;
        std::string_view name = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        for (char c : name)
            if (uint8_t(c) < 0x21 || uint8_t(c) > 0x7E) return false;
        return !name.empty();
    };
    std::string out;
    out.reserve(raw.size() + raw.size() / 16 + 4);
    // A line at a time: its text as it stands, its break (CR, LF or CRLF) as CRLF.
    for (size_t i = 0; i < raw.size();) {
        size_t eol = i;
        while (eol < raw.size() && raw[eol] != '\r' && raw[eol] != '\n') ++eol;
        if (i > 0 && i < eol && raw[i] != ' ' && raw[i] != '\t' &&
            (out.size() < 4 || out.compare(out.size() - 4, 4, "\r\n\r\n") != 0) &&
            !startsField(raw.substr(i, eol - i)))
            out += ' ';
        out.append(raw.substr(i, eol - i));
        if (eol == raw.size()) break;
        i = raw[eol] == '\r' && eol + 1 < raw.size() && raw[eol + 1] == '\n' ? eol + 2 : eol + 1;
        out += "\r\n";
    }
    while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0)
        out.resize(out.size() - 2);
    if (!out.empty()) out += "\r\n\r\n";
    return out;
}

std::string RemoveWhitespace(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!std::isspace(uint8_t(c))) out += c;
    return out;
}

std::string Unfold(std::string_view s) {
    // CR and LF are blanks too: trimming first leaves only inner line breaks to drop.
    const std::string_view kept = Trim(s);
    std::string out;
    out.reserve(kept.size());
    for (char c : kept)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

}  // namespace mime
