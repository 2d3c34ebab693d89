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

}  // namespace pst::ndb
