#include "engine/run_stamp.h"

#include <cstdio>

namespace engine {

std::string FormatRunStamp(const std::tm& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d.%d.%02d %d.%d.%02d", t.tm_mday, t.tm_mon + 1,
                  (t.tm_year + 1900) % 100, t.tm_hour, t.tm_min, t.tm_sec);
    return buffer;
}

}  // namespace engine
