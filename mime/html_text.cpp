#include "mime/html_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "fs/text.h"
#include "fs/utf8.h"
#include "mime/charset.h"

namespace mime {
namespace {

// Decodes the character reference starting at html[i] == '&'; returns the characters consumed
// (0 when it is not a reference).
size_t DecodeEntity(std::string_view html, size_t i, std::string& out) {
    size_t semi = html.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10) return 0;
    std::string_view name = html.substr(i + 1, semi - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::string digits(name.substr(hex ? 2 : 1));
        if (digits.empty()) return 0;
        char* end = nullptr;
        unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
        if (*end) return 0;
        fs::AppendUtf8(out, char32_t(cp > 0x10FFFF ? 0xFFFD : cp), fs::Utf8Policy::kReplaceInvalid);
        return semi - i + 1;
    }
    static const struct {
        const char* name;
        uint32_t cp;
    } kNamed[] = {{"amp", '&'},      {"lt", '<'},        {"gt", '>'},       {"quot", '"'},
                  {"apos", '\''},    {"nbsp", 0xA0},     {"copy", 0xA9},    {"reg", 0xAE},
                  {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},
                  {"lsquo", 0x2018}, {"rsquo", 0x2019},  {"ldquo", 0x201C}, {"rdquo", 0x201D},
                  {"euro", 0x20AC},  {"bull", 0x2022},   {"middot", 0xB7},  {"laquo", 0xAB},
                  {"raquo", 0xBB},   {"eacute", 0xE9},   {"egrave", 0xE8},  {"agrave", 0xE0},
                  {"auml", 0xE4},    {"ouml", 0xF6},     {"uuml", 0xFC},    {"szlig", 0xDF},
                  {"Auml", 0xC4},    {"Ouml", 0xD6},     {"Uuml", 0xDC},    {"ccedil", 0xE7}};
    for (const auto& e : kNamed) {
        if (name == e.name) {
            fs::AppendUtf8(out, e.cp, fs::Utf8Policy::kReplaceInvalid);
            return semi - i + 1;
        }
    }
    return 0;
}

bool IsBlockTag(std::string_view tag) {
    static const char* kBlocks[] = {"br",         "p",   "div", "tr", "li", "h1",
                                    "h2",         "h3",  "h4",  "h5", "h6", "table",
                                    "blockquote", "pre", "hr",  "ul", "ol"};
    for (const char* b : kBlocks)
        if (tag == b) return true;
    return false;
}

}  // namespace

std::string HtmlToText(std::string_view html) {
    std::string out;
    out.reserve(html.size() / 2);
    bool lastSpace = true;
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;
            size_t n = i + 1;
            bool closing = n < end && html[n] == '/';
            if (closing) ++n;
            size_t nameEnd = n;
            while (nameEnd < end && std::isalnum(uint8_t(html[nameEnd]))) ++nameEnd;
            std::string tag = fs::LowerAscii(html.substr(n, nameEnd - n));
            i = end + 1;
            if (!closing &&
                (tag == "script" || tag == "style" || tag == "head" || tag == "title")) {
                std::string lower =
                    fs::LowerAscii(html.substr(i, std::min<size_t>(html.size() - i, 1 << 20)));
                size_t close = lower.find("</" + tag);
                if (close == std::string::npos) {
                    i = html.size();
                } else {
                    size_t gt = html.find('>', i + close);
                    i = gt == std::string_view::npos ? html.size() : gt + 1;
                }
                continue;
            }
            if (IsBlockTag(tag) && (tag == "br" || closing || tag == "p" || tag == "tr")) {
                while (!out.empty() && out.back() == ' ') out.pop_back();
                if (tag != "br" && !out.empty() && out.back() != '\n')
                    out += "\r\n";
                else if (tag == "br")
                    out += "\r\n";
                lastSpace = true;
            }
            continue;
        }
        if (c == '&') {
            std::string decoded;
            size_t used = DecodeEntity(html, i, decoded);
            if (used) {
                out += decoded == "\xC2\xA0" ? " " : decoded;
                lastSpace = false;
                i += used;
                continue;
            }
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!lastSpace) out += ' ';
            lastSpace = true;
        } else {
            out += c;
            lastSpace = false;
        }
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

namespace {

// The charset value of the first <meta ... charset=...> at or after `pos` in the lower-cased
// head: its begin and end offsets, and the end of that meta tag. Nothing when there is none.
struct MetaCharset {
    size_t begin, end, tagEnd;
};
std::optional<MetaCharset> FindMetaCharset(const std::string& head, size_t pos) {
    while ((pos = head.find("<meta", pos)) != std::string::npos) {
        size_t tagEnd = head.find('>', pos);
        if (tagEnd == std::string::npos) break;
        size_t cs = head.find("charset=", pos);
        if (cs != std::string::npos && cs < tagEnd) {
            size_t b = cs + 8;
            while (b < tagEnd && (head[b] == '"' || head[b] == '\'' || head[b] == ' ')) ++b;
            size_t e = b;
            while (e < tagEnd && (std::isalnum(uint8_t(head[e])) || head[e] == '-' ||
                                  head[e] == '_' || head[e] == ':' || head[e] == '.'))
                ++e;
            return MetaCharset{b, e, tagEnd};
        }
        pos = tagEnd;
    }
    return std::nullopt;
}

}  // namespace

std::string HtmlMetaCharset(std::string_view html) {
    std::string head = fs::LowerAscii(html.substr(0, 4096));
    size_t pos = 0;
    while (auto m = FindMetaCharset(head, pos)) {
        if (m->end > m->begin) return head.substr(m->begin, m->end - m->begin);
        pos = m->tagEnd;
    }
    return {};
}

std::string ReplaceHtmlMetaCharset(std::string_view html, std::string_view charset) {
    std::string out(html);
    std::string head = fs::LowerAscii(html.substr(0, 4096));
    size_t pos = 0;
    while (auto m = FindMetaCharset(head, pos)) {
        // Same-length edits are not guaranteed, so rebuild from the original offsets.
        out = out.substr(0, m->begin) + std::string(charset) + out.substr(m->end);
        int64_t delta = int64_t(charset.size()) - int64_t(m->end - m->begin);
        head = fs::LowerAscii(
            std::string_view(out).substr(0, 4096 + size_t(std::max<int64_t>(delta, 0))));
        pos = size_t(int64_t(m->tagEnd) + delta);
    }
    return out;
}

}  // namespace mime

namespace mime {

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                break;
            case '\n':
                out += "<br>\r\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string HtmlBodyContent(std::string_view html) {
    std::string lower = fs::LowerAscii(html);
    size_t open = lower.find("<body");
    if (open == std::string::npos) return std::string(html);
    size_t start = lower.find('>', open);
    if (start == std::string::npos) return std::string(html);
    size_t end = lower.find("</body", start);
    return std::string(
        html.substr(start + 1, (end == std::string::npos ? html.size() : end) - start - 1));
}

}  // namespace mime
