#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace pst::messaging {

// SOURCE_DATE_EPOCH (seconds since 1970, the variable reproducible builds use): when it is set,
// every time written into a data file (the store's stamps, the messages' creation times) is that
// moment and identifiers that are otherwise random (store and replica GUIDs, search keys, new
// conversation GUIDs) come from fixed seeds, so the same input converted the same way makes the
// same file byte for byte. Two such files opened together would share one store GUID: for
// checks, not for files meant to be used side by side.
inline std::optional<int64_t> FixedEpoch() {
    const char* set = std::getenv("SOURCE_DATE_EPOCH");
    if (!set || !*set) return std::nullopt;
    char* end = nullptr;
    const long long seconds = std::strtoll(set, &end, 10);
    if (*end != '\0' || seconds < 0) return std::nullopt;
    return int64_t(seconds);
}

}  // namespace pst::messaging
