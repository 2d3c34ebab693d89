#pragma once

#include <string_view>

namespace engine {

// Compares two UTF-8 texts by their UTF-16 code units, ordinally (no case folding, no locale),
// a shorter text sorting before a longer one that begins with it. The order is the same on
// every platform. Bytes that are not valid UTF-8 compare as lone surrogates (0xDC00 + byte), so
// any file name still has a fixed place.
int CompareOrdinal(std::string_view a, std::string_view b);

inline bool SortsBefore(std::string_view a, std::string_view b) {
    return CompareOrdinal(a, b) < 0;
}

}  // namespace engine
