#pragma once

#include <string>
#include <string_view>

// Conversions between the UTF-8 paths of the public interface and the UTF-16 or ANSI code page
// strings of the Windows calls.
namespace fs::win32 {

// UTF-8 to UTF-16. Surrogate code points encoded on their own (ED A0..BF xx, as
// Utf8FromWide writes them) become the lone surrogate unit again, so any name that Windows
// holds survives a listing and a reopening. A byte that starts no valid sequence becomes
// U+FFFD.
std::u16string WideFromUtf8(std::string_view utf8);

// UTF-16 to UTF-8. A surrogate without its partner is written as the three-byte form of its
// own code point instead of being replaced.
std::string Utf8FromWide(std::u16string_view wide);

// UTF-16 to and from the system's ANSI code page (CP_ACP), for the narrow calls.
std::string AnsiFromWide(std::u16string_view wide);
std::u16string WideFromAnsi(std::string_view ansi);

// The system's own text for an error code, in UTF-8 ("system error N" when it has none).
std::string SystemText(unsigned long code);

}  // namespace fs::win32
