#include "mime/attachment_name.h"

#include <cctype>
#include <cstdint>

#include "fs/text.h"

namespace mime {

std::string SanitizeFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        auto u = uint8_t(c);
        bool bad = u < 0x20 || u == 0x7F || c == '"' || c == '/' || c == ':' || c == '<' ||
                   c == '>' || c == '|' || c == '\\' || c == '*' || c == '?';
        out += bad ? '_' : c;
    }
    size_t b = 0;
    while (b < out.size() && out[b] == ' ') ++b;
    out.erase(0, b);
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out;
}

std::string ExtensionForMimeType(std::string_view type) {
    static const struct {
        const char* type;
        const char* ext;
    } kMap[] = {{"text/plain", ".txt"},
                {"text/html", ".htm"},
                {"text/calendar", ".ics"},
                {"message/rfc822", ".eml"},
                {"image/jpeg", ".jpg"},
                {"image/jpg", ".jpg"},
                {"image/pjpeg", ".jpg"},
                {"image/png", ".png"},
                {"image/x-png", ".png"},
                {"image/gif", ".gif"},
                {"image/bmp", ".bmp"},
                {"application/pdf", ".pdf"},
                {"text/enriched", ".txt"},
                {"text/rfc822-headers", ".txt"},
                {"message/delivery-status", ".txt"},
                {"text/csv", ".csv"},
                {"text/vcard", ".vcf"},
                {"text/x-vcard", ".vcf"},
                {"application/pkcs7-signature", ".p7s"},
                {"application/x-pkcs7-signature", ".p7s"},
                {"application/pkcs7-mime", ".p7m"},
                {"application/x-pkcs7-mime", ".p7m"},
                {"application/zip", ".zip"}};
    for (const auto& m : kMap)
        if (type == m.type) return m.ext;
    return ".dat";
}

std::string ExtensionOf(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) return {};
    return std::string(name.substr(dot));
}

std::string ShortFileName(std::string_view name) {
    std::string ext = ExtensionOf(name);
    std::string_view base = name.substr(0, name.size() - ext.size());
    auto legal = [](char c) {
        auto u = uint8_t(c);
        return u > 0x20 && u < 0x7F && c != '.' && c != ' ' && c != '+' && c != ',' && c != ';' &&
               c != '=' && c != '[' && c != ']';
    };
    bool fits = !base.empty() && base.size() <= 8 && ext.size() <= 4;
    for (char c : base) fits = fits && legal(c);
    for (size_t i = 1; i < ext.size(); ++i) fits = fits && legal(ext[i]);
    if (fits) return std::string(name);
    std::string out;
    for (char c : base) {
        if (out.size() == 6) break;
        if (legal(c)) out += char(std::toupper(uint8_t(c)));
    }
    if (out.empty()) out = "ATTACH";
    out += "~1";
    if (ext.size() > 1) {
        std::string e;
        for (size_t i = 1; i < ext.size() && e.size() < 3; ++i)
            if (legal(ext[i])) e += char(std::toupper(uint8_t(ext[i])));
        if (!e.empty()) out += "." + e;
    }
    return out;
}

}  // namespace mime

#include <map>

#include "mime/charset.h"

namespace mime {

std::string ExtendedParameter(std::string_view raw, std::string_view name) {
    std::string text = fs::LowerAscii(raw);
    std::string key = fs::LowerAscii(name) + "*";
    std::map<int, std::pair<bool, std::string>> segments;  // index -> (encoded, value)
    size_t pos = 0;
    while ((pos = text.find(key, pos)) != std::string::npos) {
        bool boundary = pos == 0 || text[pos - 1] == ';' || std::isspace(uint8_t(text[pos - 1]));
        size_t p = pos + key.size();
        pos = p;
        if (!boundary) continue;
        int index = 0;
        bool encoded = false;
        if (p < text.size() && std::isdigit(uint8_t(text[p]))) {
            index = 0;
            while (p < text.size() && std::isdigit(uint8_t(text[p])) && index < 1000)
                index = index * 10 + (text[p++] - '0');
            if (p < text.size() && text[p] == '*') {
                encoded = true;
                ++p;
            }
        } else {
            encoded = true;  // name*=
        }
        while (p < text.size() && std::isspace(uint8_t(text[p]))) ++p;
        if (p >= text.size() || text[p] != '=') continue;
        ++p;
        while (p < text.size() && std::isspace(uint8_t(text[p]))) ++p;
        std::string value;
        if (p < raw.size() && raw[p] == '"') {
            size_t end = raw.find('"', p + 1);
            value = std::string(
                raw.substr(p + 1, (end == std::string_view::npos ? raw.size() : end) - p - 1));
        } else {
            size_t end = p;
            while (end < raw.size() && raw[end] != ';' && !std::isspace(uint8_t(raw[end]))) ++end;
            value = std::string(raw.substr(p, end - p));
        }
        segments.emplace(index, std::make_pair(encoded, value));
    }
    if (segments.empty() || !segments.begin()->second.first) return {};
    std::string charset, bytes;
    bool first = true;
    for (auto& [index, seg] : segments) {
        std::string v = seg.second;
        if (first) {
            size_t q1 = v.find('\'');
            size_t q2 = q1 == std::string::npos ? q1 : v.find('\'', q1 + 1);
            if (q2 != std::string::npos) {
                charset = v.substr(0, q1);
                v = v.substr(q2 + 1);
            }
            first = false;
        }
        if (!seg.first) {
            bytes += v;
            continue;
        }
        for (size_t i = 0; i < v.size(); ++i) {
            if (v[i] == '%' && i + 2 < v.size() && std::isxdigit(uint8_t(v[i + 1])) &&
                std::isxdigit(uint8_t(v[i + 2]))) {
                bytes += char(std::stoi(v.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                bytes += v[i];
            }
        }
    }
    std::string decoded = DecodeToUtf8(bytes, charset);
    if (decoded.find("\xEF\xBF\xBD") != std::string::npos) decoded = DecodeToUtf8(bytes, "");
    return decoded;
}

}  // namespace mime
