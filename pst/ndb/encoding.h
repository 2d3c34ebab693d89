#pragma once

#include <cstdint>
#include <span>

#include "pst/ndb/types.h"

namespace pst::ndb {

// bCryptMethod: how the data of external blocks is stored.
enum class Encoding : uint8_t { None = 0, Permute = 1, Cyclic = 2 };

// Turn plain bytes into stored bytes and back, in place. The cyclic method keys on the BID.
void EncodeData(Encoding method, Bid bid, std::span<uint8_t> bytes);
void DecodeData(Encoding method, Bid bid, std::span<uint8_t> bytes);

// How the permute method runs. EncodeData and DecodeData take the fastest path this processor
// has; tests and benchmarks name a path to hold the others against the scalar one.
enum class PermutePath : uint8_t {
    Scalar,      // one table lookup per byte
    Avx2,        // 32 bytes at a time: byte shuffles over 16-byte rows of the table
    Avx512Vbmi,  // 64 bytes at a time: two-register byte permutes over the whole table
};

bool PermutePathAvailable(PermutePath path);
PermutePath ChosenPermutePath();
// Throw std::invalid_argument when this processor lacks the path.
void EncodePermuteVia(PermutePath path, std::span<uint8_t> bytes);
void DecodePermuteVia(PermutePath path, std::span<uint8_t> bytes);

}  // namespace pst::ndb
