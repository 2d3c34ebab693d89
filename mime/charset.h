#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mime {

// Canonical lower-case name for a charset label: aliases and common misspellings folded
// ("latin1" -> "iso-8859-1", "cp1252" -> "windows-1252", "ks_c_5601-1987" -> "cp949", ...).
// Empty for an empty label.
std::string NormalizeCharset(std::string_view label);

// Windows code page of a charset (PR_INTERNET_CPID), or 0 when it has none.
uint32_t CodePageOf(std::string_view charset);

bool IsValidUtf8(std::string_view bytes);

bool HasEightBit(std::string_view bytes);

// The charset text labelled `label` is really in: ISO-8859-1 holding C1 bytes is windows-1252,
// valid multi-byte UTF-8 under a Western label is UTF-8, an absent, us-ascii or unknown label over
// 8-bit bytes is UTF-8 when the bytes are valid UTF-8, else windows-1252.
std::string EffectiveCharset(std::string_view bytes, std::string_view label);

// Converts `bytes` to UTF-8 from `charset`, which must be what EffectiveCharset made of these
// very bytes (so nothing is detected twice); text already in UTF-8 is handed back as it is.
std::string ConvertToUtf8(std::string bytes, std::string_view charset);

// Decodes `bytes` in the (effective) charset to UTF-8. Never fails: sequences that do not
// decode become U+FFFD and the rest is kept.
std::string DecodeToUtf8(std::string_view bytes, std::string_view label);

}  // namespace mime

namespace mime {

// Text that should be UTF-8 but may carry stray legacy bytes (from a library that passed raw
// bytes through): valid sequences kept, other bytes read as windows-1252.
inline std::string CleanUtf8(std::string text) {
    return IsValidUtf8(text) ? text : DecodeToUtf8(text, "utf-8");
}

}  // namespace mime
