#include "engine/ordinal_compare.h"

#include <cstdint>

namespace engine {
namespace {

// Decodes one code point at `i` and returns a key that orders like its UTF-16 units:
// a BMP unit in the high half, or the surrogate pair for a supplementary code point.
uint32_t NextKey(std::string_view s, size_t& i) {
    auto b = [&](size_t k) { return uint8_t(s[i + k]); };
    auto cont = [&](size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    uint32_t cp;
    uint8_t b0 = b(0);
    if (b0 < 0x80) {
        cp = b0;
        i += 1;
    } else if (b0 >= 0xC2 && b0 < 0xE0 && cont(1)) {
        cp = ((b0 & 0x1Fu) << 6) | (b(1) & 0x3Fu);
        i += 2;
    } else if (b0 >= 0xE0 && b0 < 0xF0 && cont(1) && cont(2) &&
               (cp = ((b0 & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu)) >= 0x800) {
        i += 3;
    } else if (b0 >= 0xF0 && b0 < 0xF5 && cont(1) && cont(2) && cont(3) &&
               (cp = ((b0 & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) |
                     (b(3) & 0x3Fu)) >= 0x10000 &&
               cp <= 0x10FFFF) {
        i += 4;
    } else {
        cp = 0xDC00u + b0;
        i += 1;
    }
    if (cp < 0x10000) return cp << 16;
    cp -= 0x10000;
    return ((0xD800u + (cp >> 10)) << 16) | (0xDC00u + (cp & 0x3FF));
}

}  // namespace

int CompareOrdinal(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (uint8_t(a[i]) < 0x80 && uint8_t(b[j]) < 0x80) {  // the common case
            if (a[i] != b[j]) return uint8_t(a[i]) < uint8_t(b[j]) ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        uint32_t ka = NextKey(a, i), kb = NextKey(b, j);
        if (ka != kb) return ka < kb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace engine
