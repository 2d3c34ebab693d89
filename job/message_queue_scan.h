#pragma once

#include <cstdint>
#include <string>

#include "ui/controls.h"
#include "ui/shell.h"

namespace job {

// Walks `folder` and its whole subtree: every subfolder goes into FolderQueue() under
// "Z" + folderCounter, every file into MessageQueue() under "K" + fileCounter, in pre-order
// (a folder's subfolders are queued when it is visited, then its files, then each subfolder's
// subtree). `folder` is made to end with the path separator, and the caller sees that. The
// running count is shown in `lblCount1`. A folder the walk is already inside (a link back into
// its own tree) is queued but not entered again. At most one directory search is open at a time.
void BuildMessageQueue(std::string& folder, const std::string& pattern, int32_t& fileCounter,
                       int32_t& folderCounter, ui::Label& lblCount1, ui::Shell& shell);

}  // namespace job
