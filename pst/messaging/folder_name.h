#pragma once

#include <string>
#include <string_view>

namespace pst::messaging {

// The key two folder names collide on: the name with letter case folded (ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters), so "Été" and "éTÉ" are the same name.
std::u16string FolderNameKey(std::u16string_view name);

}  // namespace pst::messaging
