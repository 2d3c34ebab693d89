#pragma once

#include <string>
#include <string_view>

// The one UTF-8 encoder of the program. Callers differ only in what they do with code points
// that are no characters, so that is a parameter.
namespace fs {

enum class Utf8Policy {
    // Every code point is written as it is, a surrogate without its partner and NUL included
    // (the generalised form that lets names holding lone surrogates survive a round trip).
    kKeepSurrogates,
    // NUL and surrogates become U+FFFD: text for a message, which must be valid UTF-8.
    kReplaceInvalid,
};

// Appends `cp` as UTF-8. Values past U+10FFFF have no encoding and become U+FFFD either way.
inline void AppendUtf8(std::string& out, char32_t cp, Utf8Policy policy) {
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (policy == Utf8Policy::kReplaceInvalid && (cp == 0 || (cp >= 0xD800 && cp < 0xE000)))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// UTF-16 to UTF-8. Surrogate pairs are joined; a surrogate without its partner is written as
// its own code point (kKeepSurrogates), so nothing a name or a property holds is lost.
inline std::string Utf8FromUtf16(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp, Utf8Policy::kKeepSurrogates);
    }
    return out;
}

}  // namespace fs
