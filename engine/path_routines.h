#pragma once

#include <string>
#include <string_view>

namespace engine {

// The text after the last path separator; the whole path when it holds none; empty when the
// path ends with a separator.
std::string FileNameOf(std::string_view path);

// The path up to and including its last separator; empty when it holds none.
std::string DirectoryOf(std::string_view path);

}  // namespace engine
