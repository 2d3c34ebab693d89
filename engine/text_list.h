#pragma once

#include <string>
#include <vector>

#include "ui/shell.h"

namespace engine {

// Sorts entries first..last (inclusive) of `list` in place, ascending by ordinal UTF-16
// comparison. Yields once per partition step and per swap so long lists keep the window live.
void SortTextRange(std::vector<std::string>& list, long first, long last, ui::Shell& shell);

// On a sorted list: removes repeats and empty entries, keeping the first of each run. When no
// entry is left the list is left as it was (every entry empty). Yields at every step.
void RemoveRepeats(std::vector<std::string>& list, ui::Shell& shell);

}  // namespace engine
