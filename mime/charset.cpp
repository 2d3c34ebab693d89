#include "mime/charset.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fs/text.h"
#include "fs/utf8.h"

namespace mime {
namespace {

const std::unordered_map<std::string, std::string>& Aliases() {
    static const std::unordered_map<std::string, std::string> map = {
        {"latin1", "iso-8859-1"},
        {"latin-1", "iso-8859-1"},
        {"iso8859-1", "iso-8859-1"},
        {"iso_8859-1", "iso-8859-1"},
        {"iso88591", "iso-8859-1"},
        {"l1", "iso-8859-1"},
        {"iso-8859-1:1987", "iso-8859-1"},
        {"iso_8859-1:1987", "iso-8859-1"},
        {"iso8859-15", "iso-8859-15"},
        {"iso_8859-15", "iso-8859-15"},
        {"latin9", "iso-8859-15"},
        {"iso8859-2", "iso-8859-2"},
        {"iso_8859-2", "iso-8859-2"},
        {"latin2", "iso-8859-2"},
        {"cp1250", "windows-1250"},
        {"cp1251", "windows-1251"},
        {"cp1252", "windows-1252"},
        {"cp1253", "windows-1253"},
        {"cp1254", "windows-1254"},
        {"cp1255", "windows-1255"},
        {"cp1256", "windows-1256"},
        {"cp1257", "windows-1257"},
        {"cp1258", "windows-1258"},
        {"x-cp1252", "windows-1252"},
        {"win-1252", "windows-1252"},
        {"windows1252", "windows-1252"},
        {"ascii", "us-ascii"},
        {"ansi_x3.4-1968", "us-ascii"},
        {"us", "us-ascii"},
        {"iso646-us", "us-ascii"},
        {"utf8", "utf-8"},
        {"unicode-1-1-utf-8", "utf-8"},
        {"utf7", "utf-7"},
        {"unicode-1-1-utf-7", "utf-7"},
        {"shift-jis", "shift_jis"},
        {"sjis", "shift_jis"},
        {"x-sjis", "shift_jis"},
        {"ms_kanji", "shift_jis"},
        {"cp932", "shift_jis"},
        {"windows-31j", "shift_jis"},
        {"x-euc-jp", "euc-jp"},
        {"eucjp", "euc-jp"},
        {"ks_c_5601-1987", "cp949"},
        {"ks_c_5601", "cp949"},
        {"ksc5601", "cp949"},
        {"windows-949", "cp949"},
        {"uhc", "cp949"},
        {"euckr", "euc-kr"},
        {"gb2312", "gbk"},
        {"x-gbk", "gbk"},
        {"cp936", "gbk"},
        {"chinese", "gbk"},
        {"euc-cn", "gbk"},
        {"big-5", "big5"},
        {"cp950", "big5"},
        {"x-big5", "big5"},
        {"tis-620", "windows-874"},
        {"cp874", "windows-874"},
        {"koi8r", "koi8-r"},
        {"koi8u", "koi8-u"},
    };
    return map;
}

// Converter names for a charset, best first. glibc knows names that decode a superset of what
// mailers actually send under a label; the converter of the Windows build knows only plain
// names and code pages, so those follow.
std::vector<std::string> ConverterNames(const std::string& charset) {
    if (charset == "shift_jis") return {"CP932", "SHIFT_JIS"};
    if (charset == "iso-2022-jp") return {"ISO-2022-JP-2", "ISO-2022-JP", "CP50220"};
    if (charset == "euc-jp") return {"EUC-JP-MS", "EUC-JP", "CP51932"};
    if (charset == "gbk") return {"GB18030", "GBK", "CP936"};
    if (charset == "cp949" || charset == "euc-kr") return {"CP949"};
    if (charset == "big5") return {"BIG5-HKSCS", "BIG5", "CP950"};
    if (charset == "us-ascii") return {"WINDOWS-1252", "CP1252"};
    std::vector<std::string> names{charset};
    if (uint32_t cp = CodePageOf(charset)) names.push_back("CP" + std::to_string(cp));
    return names;
}

GIConv OpenConverter(const std::string& charset) {
    for (const auto& name : ConverterNames(charset)) {
        GIConv cd = g_iconv_open("UTF-8", name.c_str());
        if (cd != GIConv(-1)) return cd;
    }
    return GIConv(-1);
}

// UTF-7 (RFC 2152) decoded here: not every platform's converter has it. Bytes outside ASCII
// and surrogates without their partner become U+FFFD.
std::string DecodeUtf7(std::string_view bytes) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    out.reserve(bytes.size());
    uint32_t high = 0;  // a high surrogate waiting for its partner
    auto unit = [&](uint32_t u) {
        if (high && u >= 0xDC00 && u <= 0xDFFF) {
            fs::AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00),
                           fs::Utf8Policy::kReplaceInvalid);
            high = 0;
            return;
        }
        if (high) fs::AppendUtf8(out, 0xFFFD, fs::Utf8Policy::kReplaceInvalid);
        high = 0;
        if (u >= 0xD800 && u <= 0xDBFF)
            high = u;
        else
            fs::AppendUtf8(out, u, fs::Utf8Policy::kReplaceInvalid);
    };
    size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i++];
        if (c != '+') {
            unit(uint8_t(c) < 0x80 ? uint8_t(c) : 0xFFFD);
            continue;
        }
        if (i < bytes.size() && bytes[i] == '-') {
            unit('+');
            ++i;
            continue;
        }
        uint32_t bits = 0;
        int count = 0;
        while (i < bytes.size() && value(bytes[i]) >= 0) {
            bits = (bits << 6) | uint32_t(value(bytes[i++]));
            count += 6;
            if (count >= 16) {
                count -= 16;
                unit((bits >> count) & 0xFFFF);
            }
        }
        if (i < bytes.size() && bytes[i] == '-') ++i;  // the shift's end marker is absorbed
    }
    if (high) fs::AppendUtf8(out, 0xFFFD, fs::Utf8Policy::kReplaceInvalid);
    return out;
}

bool Iconv(std::string_view bytes, const std::string& from, std::string& out) {
    if (from == "utf-7") {
        out = DecodeUtf7(bytes);
        return true;
    }
    GIConv cd = OpenConverter(from);
    if (cd == GIConv(-1)) return false;
    out.clear();
    out.reserve(bytes.size() + bytes.size() / 2);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buf[4096];
    auto flush = [&](char* end) { out.append(buf, size_t(end - buf)); };
    while (true) {
        char* o = buf;
        size_t oLeft = sizeof(buf);
        size_t r = g_iconv(cd, inLeft ? &in : nullptr, &inLeft, &o, &oLeft);
        flush(o);
        if (r != size_t(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // Undecodable or truncated input: one replacement character, skip a byte, go on.
        out.append("\xEF\xBF\xBD");
        if (inLeft == 0) break;
        ++in;
        --inLeft;
        g_iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) break;
    }
    // Flush any shift state (ISO-2022, UTF-7).
    char* o = buf;
    size_t oLeft = sizeof(buf);
    g_iconv(cd, nullptr, nullptr, &o, &oLeft);
    flush(o);
    g_iconv_close(cd);
    return true;
}

// Text is mostly ASCII: scanned in blocks until a byte has its high bit set.
size_t AsciiPrefix(std::string_view s) {
    size_t i = 0;
#if defined(__SSE2__)
    // Part of every x86-64 processor, so no run-time check is needed.
    for (; i + 32 <= s.size(); i += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i + 16));
        if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) break;
    }
#endif
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t v;
        std::memcpy(&v, s.data() + i, 8);
        if (v & 0x8080808080808080ull) break;
    }
    while (i < s.size() && uint8_t(s[i]) < 0x80) ++i;
    return i;
}

bool HasC1(std::string_view bytes) {
    bytes.remove_prefix(AsciiPrefix(bytes));
    return std::any_of(bytes.begin(), bytes.end(), [](char c) {
        auto u = uint8_t(c);
        return u >= 0x80 && u <= 0x9F;
    });
}

bool IconvKnows(const std::string& charset) {
    // Opening a converter costs far more than the lookup, so the answers are remembered. One
    // table for all threads, never destroyed: MinGW runs the destructors of thread-local
    // objects on freed storage when a thread ends, and threads may ask until the process exits.
    struct Known {
        std::mutex mutex;
        std::unordered_map<std::string, bool> answers;
    };
    static auto* known = new Known;
    {
        std::lock_guard lock(known->mutex);
        if (auto it = known->answers.find(charset); it != known->answers.end()) return it->second;
    }
    if (charset == "utf-7") return true;
    GIConv cd = OpenConverter(charset);
    const bool ok = cd != GIConv(-1);
    if (ok) g_iconv_close(cd);
    std::lock_guard lock(known->mutex);
    // Labels are untrusted: bounded.
    if (known->answers.size() < 256) known->answers.emplace(charset, ok);
    return ok;
}

}  // namespace

std::string NormalizeCharset(std::string_view label) {
    std::string s = fs::LowerAscii(label);
    auto trim = [](char c) { return c == ' ' || c == '"' || c == '\'' || c == '\t'; };
    while (!s.empty() && trim(s.back())) s.pop_back();
    size_t b = 0;
    while (b < s.size() && trim(s[b])) ++b;
    s.erase(0, b);
    auto it = Aliases().find(s);
    if (it != Aliases().end()) return it->second;
    if (s.rfind("windows-", 0) == 0 || s.rfind("iso-8859-", 0) == 0) return s;
    if (s.size() > 8 && s.rfind("iso8859-", 0) == 0) return "iso-8859-" + s.substr(8);
    return s;
}

uint32_t CodePageOf(std::string_view label) {
    static const std::unordered_map<std::string, uint32_t> map = {
        {"us-ascii", 20127},    {"utf-8", 65001},       {"iso-8859-1", 28591},
        {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594},
        {"iso-8859-5", 28595},  {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
        {"iso-8859-8", 28598},  {"iso-8859-9", 28599},  {"iso-8859-13", 28603},
        {"iso-8859-15", 28605}, {"windows-1250", 1250}, {"windows-1251", 1251},
        {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254},
        {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257},
        {"windows-1258", 1258}, {"koi8-r", 20866},      {"koi8-u", 21866},
        {"shift_jis", 932},     {"euc-jp", 51932},      {"iso-2022-jp", 50220},
        {"gbk", 936},           {"gb18030", 54936},     {"big5", 950},
        {"euc-kr", 51949},      {"cp949", 949},         {"iso-2022-kr", 50225},
        {"windows-874", 874},   {"utf-7", 65000},
    };
    auto it = map.find(NormalizeCharset(label));
    return it == map.end() ? 0 : it->second;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        i += AsciiPrefix(s.substr(i));
        if (i >= s.size()) break;
        auto b0 = uint8_t(s[i]);
        size_t len = b0 < 0x80                 ? 1
                     : b0 >= 0xC2 && b0 < 0xE0 ? 2
                     : b0 >= 0xE0 && b0 < 0xF0 ? 3
                     : b0 >= 0xF0 && b0 < 0xF5 ? 4
                                               : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
        if (len == 3) {
            auto b1 = uint8_t(s[i + 1]);
            if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 >= 0xA0)) return false;
        } else if (len == 4) {
            auto b1 = uint8_t(s[i + 1]);
            if ((b0 == 0xF0 && b1 < 0x90) || (b0 == 0xF4 && b1 >= 0x90)) return false;
        }
        i += len;
    }
    return true;
}

bool HasEightBit(std::string_view s) {
    size_t i = AsciiPrefix(s);
    return i < s.size();
}

std::string EffectiveCharset(std::string_view bytes, std::string_view label) {
    std::string cs = NormalizeCharset(label);
    bool known = !cs.empty() && cs != "us-ascii" && IconvKnows(cs);
    if (!known) {
        if (!HasEightBit(bytes)) return cs.empty() || !known ? "us-ascii" : cs;
        return IsValidUtf8(bytes) ? "utf-8" : "windows-1252";
    }
    bool western = cs == "iso-8859-1" || cs == "windows-1252" || cs == "iso-8859-15";
    // UTF-8 sent under a Western label: multi-byte sequences that all decode are next to never
    // genuine Latin-1 text.
    if (western && HasEightBit(bytes) && IsValidUtf8(bytes)) return "utf-8";
    if (cs == "iso-8859-1" && HasC1(bytes)) return "windows-1252";
    return cs;
}

std::string ConvertToUtf8(std::string bytes, std::string_view charset) {
    if (charset == "utf-8") {
        if (IsValidUtf8(bytes)) return bytes;
        // Labelled UTF-8 with stray legacy bytes: keep every valid sequence, read the rest as
        // windows-1252 so no character is lost.
        std::string_view in = bytes;
        std::string out;
        size_t i = 0;
        while (i < in.size()) {
            size_t j = i + 1;
            while (j < in.size() && j - i < 4 && (uint8_t(in[j]) & 0xC0) == 0x80) ++j;
            for (size_t len = j - i; len > 0; --len) {
                if (IsValidUtf8(in.substr(i, len))) {
                    out.append(in.substr(i, len));
                    i += len;
                    goto next;
                }
            }
            {
                std::string one;
                Iconv(in.substr(i, 1), "windows-1252", one);
                out += one;
                ++i;
            }
        next:;
        }
        return out;
    }
    if (charset == "us-ascii" && !HasEightBit(bytes)) return bytes;
    std::string out;
    if (Iconv(bytes, std::string(charset), out)) return out;
    Iconv(bytes, "windows-1252", out);
    return out;
}

std::string DecodeToUtf8(std::string_view bytes, std::string_view label) {
    const std::string cs = EffectiveCharset(bytes, label);
    // Text that stays as it is is copied once; the rest is converted from the view.
    if (cs == "us-ascii" || (cs == "utf-8" && IsValidUtf8(bytes))) return std::string(bytes);
    if (cs == "utf-8") return ConvertToUtf8(std::string(bytes), cs);
    std::string out;
    if (Iconv(bytes, cs, out)) return out;
    Iconv(bytes, "windows-1252", out);
    return out;
}

}  // namespace mime
