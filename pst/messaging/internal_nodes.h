#pragma once

#include "pst/ndb/node_database.h"

namespace pst::messaging {

// Puts the internal nodes 0xC01, 0xE01 and 0xE41 as a new data file holds them: two heaps whose
// tables (keyed by 16 and by 4 bytes) are empty, and a node without data. Their use is the
// client's own; a store that lacks them is taken for one that never had them filled.
void PutNewStoreInternalNodes(ndb::NodeDatabase& db);

}  // namespace pst::messaging
