#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pst::ltp {

// Little-endian field access for the on-disk structures of this layer.
inline uint64_t GetLe(std::span<const uint8_t> b, size_t off, size_t n) {
    if (off + n > b.size()) {
        throw std::runtime_error("structure truncated: need " + std::to_string(off + n) +
                                 " bytes, have " + std::to_string(b.size()));
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(b[off + i]) << (8 * i);
    return v;
}
inline uint16_t Get16(std::span<const uint8_t> b, size_t off) {
    return uint16_t(GetLe(b, off, 2));
}
inline uint32_t Get32(std::span<const uint8_t> b, size_t off) {
    return uint32_t(GetLe(b, off, 4));
}

inline void PutLe(std::span<uint8_t> b, size_t off, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) b[off + i] = uint8_t(v >> (8 * i));
}
inline void Put16(std::span<uint8_t> b, size_t off, uint16_t v) {
    PutLe(b, off, v, 2);
}
inline void Put32(std::span<uint8_t> b, size_t off, uint32_t v) {
    PutLe(b, off, v, 4);
}

inline void AppendLe(std::vector<uint8_t>& out, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

inline std::string Hex(uint64_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v != 0);
    return "0x" + s;
}

}  // namespace pst::ltp
