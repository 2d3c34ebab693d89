#pragma once

#include <string>
#include <string_view>

namespace fs {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The form a wide Windows call gets: "\\?\" + path, or "\\?\UNC\" + path after its leading
// "\\" for a UNC path, followed by one NUL. Nothing else is changed.
std::u16string LongPathForm(std::u16string_view path);

// The path without blanks at either end, ending with exactly one separator; an empty result
// becomes the separator alone.
std::string WithTrailingBackslash(std::string_view path);

// The text before its first NUL; the whole text when it holds none.
std::string CutAtNul(std::string_view text);
std::u16string CutAtNul(std::u16string_view text);

}  // namespace fs
