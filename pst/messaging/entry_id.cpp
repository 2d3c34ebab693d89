#include "pst/messaging/entry_id.h"

#include <algorithm>

namespace pst::messaging {

std::vector<uint8_t> MakeEntryId(const StoreUid& store, ndb::Nid nid) {
    std::vector<uint8_t> out(kEntryIdSize, 0);
    std::copy(store.begin(), store.end(), out.begin() + 4);
    for (int i = 0; i < 4; ++i) out[20 + i] = uint8_t(nid >> (8 * i));
    return out;
}

std::optional<ndb::Nid> ParseEntryId(std::span<const uint8_t> entryId, const StoreUid& store) {
    if (entryId.size() != kEntryIdSize) return std::nullopt;
    if (entryId[0] | entryId[1] | entryId[2] | entryId[3]) return std::nullopt;
    if (!std::equal(store.begin(), store.end(), entryId.begin() + 4)) return std::nullopt;
    ndb::Nid nid = 0;
    for (int i = 0; i < 4; ++i) nid |= ndb::Nid(entryId[20 + i]) << (8 * i);
    return nid;
}

}  // namespace pst::messaging
