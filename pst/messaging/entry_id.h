#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pst/ndb/types.h"

namespace pst::messaging {

using StoreUid = std::array<uint8_t, 16>;

// The 24-byte store-relative entry ID: four zero flag bytes, the store's record key, the NID.
constexpr size_t kEntryIdSize = 24;
std::vector<uint8_t> MakeEntryId(const StoreUid& store, ndb::Nid nid);
// The NID an entry ID names, or nothing when it is not one of this store's entry IDs.
std::optional<ndb::Nid> ParseEntryId(std::span<const uint8_t> entryId, const StoreUid& store);

}  // namespace pst::messaging
