#pragma once

#include <cstdint>
#include <span>

#include "pst/ndb/types.h"

namespace pst::ndb {

// The file's CRC-32: reflected polynomial 0xEDB88320, seed 0, no final inversion.
uint32_t Crc(std::span<const uint8_t> bytes);

// The 16-bit signature of a page or block, from its own offset and id.
constexpr uint16_t Signature(Ib ib, uint64_t bid) {
    const uint64_t x = ib ^ bid;
    return static_cast<uint16_t>((x >> 16) ^ x);
}

}  // namespace pst::ndb
