#pragma once

#include <string>
#include <string_view>

// Small text helpers every layer shares. They work on ASCII only: the bytes of UTF-8 sequences
// are never changed, lowered or taken for blanks, and nothing depends on the C locale.
namespace fs {

// What std::isspace takes for blanks in the "C" locale.
constexpr std::string_view kAsciiBlanks = " \t\n\v\f\r";

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

inline std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

inline bool EndsWith(std::string_view text, std::string_view tail) {
    return text.ends_with(tail);
}

// ASCII letter case ignored.
inline bool StartsWithNoCase(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && EqualsNoCase(text.substr(0, head.size()), head);
}
inline bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

// `text` without the characters of `blanks` at either end.
inline std::string_view Trim(std::string_view text, std::string_view blanks = kAsciiBlanks) {
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace fs
