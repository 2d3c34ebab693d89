#pragma once

#include <ctime>
#include <string>

namespace engine {

// "d.m.YY H.m.ss": day, month, two-digit year, hour and minutes without leading zeros, seconds
// with two digits (6 December 2026 07:05:09 gives "6.12.26 7.5.09").
std::string FormatRunStamp(const std::tm& local);

}  // namespace engine
