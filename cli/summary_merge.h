#pragma once

#include <string>

#include "cli/summary.h"
#include "engine/status_window.h"

namespace cli {

// A summary as --json writes it, read back: the run's report, its seconds and the sizes of its
// data files.
struct ReadSummary {
    engine::RunReport report;
    double seconds = 0;
    DataFileSizes sizes;
};

// Reads the text of a JSON summary. Throws std::runtime_error saying what is wrong when the
// text is not JSON or not a summary.
ReadSummary ParseSummary(const std::string& json);

// Adds `part` to `whole` as one run over both would have reported it: folders, failures,
// warnings and what was gone without in the order given. Its time is the longer of the two,
// since the parts of a split run run side by side.
void MergeSummary(ReadSummary& whole, ReadSummary&& part);

// Puts the source folders (with their failures and warnings) in the order of their paths, the
// order one run over a root lists its mailboxes in.
void OrderBySource(engine::RunReport& report);

}  // namespace cli
