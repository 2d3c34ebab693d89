#include "pst/messaging/folder_name.h"

namespace pst::messaging {
namespace {

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return char16_t(c + 0x20);
    if (c < 0x80) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return char16_t(c + 0x20);
    if (c == 0x178) return 0xFF;  // Ÿ
    // Latin Extended-A: upper case at even code points, except the 0x139..0x148 and
    // 0x179..0x17E runs where it sits at odd ones; 0x130/0x131 (dotted/dotless i) stay apart.
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddRun ? (c & 1) : !(c & 1)) return char16_t(c + 1);
        return c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return char16_t(c + 0x20);  // Greek
    if (c >= 0x410 && c <= 0x42F) return char16_t(c + 0x20);                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return char16_t(c + 0x50);
    return c;
}

}  // namespace

std::u16string FolderNameKey(std::u16string_view name) {
    std::u16string key(name);
    for (auto& c : key) c = FoldCase(c);
    return key;
}

}  // namespace pst::messaging
