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

// How Crc is computed. It picks the fastest path this processor has at first use; tests and
// benchmarks name a path to hold the others against the portable one.
enum class CrcPath : uint8_t {
    Portable,  // zlib's tables
    Clmul,     // carry-less multiply folding, 128 bits at a time (PCLMULQDQ)
    Clmul512,  // the same folding, 512 bits at a time (VPCLMULQDQ with AVX-512)
};

bool CrcPathAvailable(CrcPath path);
CrcPath ChosenCrcPath();
// Throws std::invalid_argument when this processor lacks the path.
uint32_t CrcVia(CrcPath path, std::span<const uint8_t> bytes);

}  // namespace pst::ndb
