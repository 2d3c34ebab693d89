#pragma once

#include <filesystem>

#include "pst/messaging/store_verifier.h"

namespace pst {

using VerifyReport = messaging::StoreReport;

// The strict check of a whole data file, read-only: the node database (header, map pages,
// B-tree order, block trailers and CRCs, reference counts, allocation map), the heap, BTH,
// property and table rules on every node and subnode, and the messaging rules (mandatory
// nodes, templates, store entries, folders, counts, rows matching their objects). Each
// fault is one line that starts with where it is ("ndb: ...", "node 0x...", "folder 0x...",
// "message 0x..."). A file that does not open is reported, not thrown.
inline VerifyReport Verify(const std::filesystem::path& path) {
    return messaging::VerifyStoreFile(path);
}

}  // namespace pst
