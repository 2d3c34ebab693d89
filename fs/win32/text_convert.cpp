#include "fs/win32/text_convert.h"

#include "fs/utf8.h"
#include "fs/win32/windows_api.h"

namespace fs::win32 {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(char16_t(cp));
    } else {
        cp -= 0x10000;
        out.push_back(char16_t(0xD800 + (cp >> 10)));
        out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

std::u16string WideFromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (c < 0x80) {
            length = 1;
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
            minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
            minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
            minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            valid = IsContinuation(next);
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms and values beyond U+10FFFF are refused; surrogates are let through.
        if (!valid || cp < minimum || cp > 0x10FFFF) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        AppendCodePoint(out, cp);
        i += length;
    }
    return out;
}

std::string Utf8FromWide(std::u16string_view wide) {
    return Utf8FromUtf16(wide);
}

std::string AnsiFromWide(std::u16string_view wide) {
    if (wide.empty()) return {};
    const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
    int inLength = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(CP_ACP, 0, in, inLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, in, inLength, out.data(), size, nullptr, nullptr);
    return out;
}

std::u16string WideFromAnsi(std::string_view ansi) {
    if (ansi.empty()) return {};
    int inLength = static_cast<int>(ansi.size());
    int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, nullptr, 0);
    if (size <= 0) return {};
    std::u16string out(size_t(size), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLength, reinterpret_cast<wchar_t*>(out.data()),
                        size);
    return out;
}

std::string SystemText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer) {
        text = Utf8FromWide(std::u16string_view(reinterpret_cast<char16_t*>(buffer), length));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    if (text.empty()) text = "system error " + std::to_string(code);
    return text;
}

}  // namespace fs::win32
