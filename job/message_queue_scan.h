#pragma once

#include <cstdint>
#include <string>

#include "engine/run_events.h"
#include "engine/status_window.h"
#include "ui/shell.h"

namespace job {

// Walks `folder` and its whole subtree: every subfolder goes into `result.folders` under
// "Z" + folderCounter, every file into `result.messages` under "K" + fileCounter, in pre-order
// (a folder's subfolders are queued when it is visited, then its files, then each subfolder's
// subtree). `folder` is made to end with the path separator, and the caller sees that. Each
// queued file is told to `observer` as the running count. A folder the walk is already inside (a
// link back into its own tree) is queued but not entered again. At most one directory search is
// open at a time.
void BuildMessageQueue(std::string& folder, const std::string& pattern, int32_t& fileCounter,
                       int32_t& folderCounter, engine::ScanResult& result,
                       engine::RunObserver& observer, ui::Shell& shell);

}  // namespace job
