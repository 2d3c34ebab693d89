#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pst/ndb/types.h"

namespace pst::ndb {

// The node database as the upper layers see it: nodes (a data stream of blocks plus an
// optional private tree of subnodes) and the blocks they are made of.
//
// Writing is copy-on-write: every write makes new blocks, nothing live is overwritten, and
// Commit() makes all changes since the previous commit durable at once (the header is written
// last). Reads see the uncommitted changes of this session too.
//
// Reference counting is the database's business: a block is kept while a node, a subnode entry
// or a data tree refers to it. WriteBlock() returns a block that nothing refers to yet; a block
// still unreferenced at Commit() is dropped. Replacing or removing a node releases what the old
// entry referred to.
class NodeDatabase {
  public:
    virtual ~NodeDatabase() = default;

    // --- reading ---
    virtual std::optional<NodeEntry> FindNode(Nid nid) const = 0;
    // The decoded bytes of one data block (external block).
    virtual std::vector<uint8_t> ReadBlock(Bid bid) const = 0;
    // The data blocks of a stream in order: the block itself, or the leaves of its data tree.
    virtual std::vector<Bid> DataBlocks(Bid data) const = 0;
    // A whole stream (the leaves concatenated); empty for bid 0.
    virtual std::vector<uint8_t> ReadStream(Bid data) const = 0;
    // A stream's size in bytes without reading its leaves.
    virtual uint64_t StreamSize(Bid data) const = 0;
    // The subnode tree rooted at `sub` (empty for 0).
    virtual SubnodeMap ReadSubnodes(Bid sub) const = 0;

    // --- writing ---
    // A new data block holding `data` (at most kMaxBlockData bytes).
    virtual Bid WriteBlock(std::span<const uint8_t> data) = 0;
    // A data tree over `leaves`: the leaf itself when there is one, else an XBLOCK (or XXBLOCK
    // for more than 1021 leaves); 0 for none. Every leaf but the last must be full when the
    // tree holds a heap or a row matrix; the caller decides the split.
    virtual Bid WriteDataTree(std::span<const Bid> leaves) = 0;
    // A stream of any size, split into full blocks.
    virtual Bid WriteStream(std::span<const uint8_t> bytes) = 0;
    // A subnode tree (SLBLOCK, or SIBLOCK over SLBLOCKs); 0 for an empty map.
    virtual Bid WriteSubnodes(const SubnodeMap& subnodes) = 0;
    // Adds or replaces a node in the node B-tree.
    virtual void PutNode(const NodeEntry& entry) = 0;
    virtual void RemoveNode(Nid nid) = 0;
    // A new top-level NID of the given type, unique in the file.
    virtual Nid AllocateNid(uint32_t type) = 0;

    virtual void Commit() = 0;

    // --- size ---
    // Where the file ends with what this transaction has written so far (0 when not a file).
    virtual uint64_t EndOfFile() const { return 0; }
};

}  // namespace pst::ndb
