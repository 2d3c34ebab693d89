#pragma once

#include <string>

#include "engine/status_window.h"

namespace cli {

// The run's summary as JSON: per source folder the data file, queued, converted, failed (with
// reasons), skipped; totals; seconds.
std::string JsonSummary(const engine::RunReport& report, double seconds);

}  // namespace cli
