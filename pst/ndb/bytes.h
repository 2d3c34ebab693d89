#pragma once

#include <cstdint>
#include <cstring>

namespace pst::ndb {

// Little-endian field access on raw page and block images.
template <typename T>
inline T GetLe(const uint8_t* p) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
    return v;
}

template <typename T>
inline void PutLe(uint8_t* p, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t Get16(const uint8_t* p) {
    return GetLe<uint16_t>(p);
}
inline uint32_t Get32(const uint8_t* p) {
    return GetLe<uint32_t>(p);
}
inline uint64_t Get64(const uint8_t* p) {
    return GetLe<uint64_t>(p);
}
inline void Put16(uint8_t* p, uint16_t v) {
    PutLe(p, v);
}
inline void Put32(uint8_t* p, uint32_t v) {
    PutLe(p, v);
}
inline void Put64(uint8_t* p, uint64_t v) {
    PutLe(p, v);
}

}  // namespace pst::ndb
