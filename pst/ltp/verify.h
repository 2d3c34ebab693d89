#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pst/ndb/node_database.h"

namespace pst::ltp {

// The client signature of the heap a data stream holds; nullopt when it holds no heap.
std::optional<uint8_t> HeapClientSig(const ndb::NodeDatabase& db, ndb::Bid data);

// Checks the structures of this layer in one node: the heap's blocks and page maps, the BTH
// on it and, by client signature, the property context or table context (values, RowIndex,
// row matrix, cells). `subnodes` is the node's subnode map; `clientSig`, when given, is the
// signature the node's kind demands (a table's heap must say it holds a table). Returns one
// line per fault found; empty when the node is sound. Reports instead of throwing, so a
// verifier can list them all.
std::vector<std::string> VerifyHeapNode(const ndb::NodeDatabase& db, ndb::Bid data,
                                        const ndb::SubnodeMap& subnodes,
                                        std::optional<uint8_t> clientSig = std::nullopt);

}  // namespace pst::ltp
