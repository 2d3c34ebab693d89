#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "engine/status_window.h"

namespace cli {

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// The sizes of data files by path, as a summary read back records them. Without it the sizes
// are taken from the disk.
using DataFileSizes = std::map<std::string, uint64_t>;

// The run's summary as JSON: per source folder the data file (with its size), files found,
// message files, converted, with warnings, failed (with reasons), folders created and how it
// ended; totals, what steps went on without, and seconds.
std::string JsonSummary(const engine::RunReport& report, double seconds,
                        const DataFileSizes* sizes = nullptr);

// The run's summary for people: a headline saying how it ended, the counts, the data files with
// their sizes, time and rate, then the first failures and warnings with their reasons.
std::string TextSummary(const engine::RunReport& report, const std::string& source, double seconds,
                        const DataFileSizes* sizes = nullptr);

// "12.3 MB" and the like.
std::string ReadableSize(uint64_t bytes);

}  // namespace cli
