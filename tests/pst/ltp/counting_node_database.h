#pragma once

#include "pst/ndb/node_database.h"

namespace pst::ltp::testing {

// Passes every call to another database and counts the writes, for cost tests on real files.
class CountingNodeDatabase : public ndb::NodeDatabase {
  public:
    explicit CountingNodeDatabase(ndb::NodeDatabase& inner) : inner_(inner) {}

    size_t blocksWritten = 0;  // data blocks
    size_t treesWritten = 0;   // writeDataTree calls over more than one leaf
    size_t blocksRead = 0;

    std::optional<ndb::NodeEntry> FindNode(ndb::Nid nid) const override {
        return inner_.FindNode(nid);
    }
    std::vector<uint8_t> ReadBlock(ndb::Bid bid) const override {
        ++const_cast<CountingNodeDatabase*>(this)->blocksRead;
        return inner_.ReadBlock(bid);
    }
    std::vector<ndb::Bid> DataBlocks(ndb::Bid data) const override {
        return inner_.DataBlocks(data);
    }
    std::vector<uint8_t> ReadStream(ndb::Bid data) const override {
        return inner_.ReadStream(data);
    }
    uint64_t StreamSize(ndb::Bid data) const override { return inner_.StreamSize(data); }
    ndb::SubnodeMap ReadSubnodes(ndb::Bid sub) const override { return inner_.ReadSubnodes(sub); }
    ndb::Bid WriteBlock(std::span<const uint8_t> data) override {
        ++blocksWritten;
        return inner_.WriteBlock(data);
    }
    ndb::Bid WriteDataTree(std::span<const ndb::Bid> leaves) override {
        if (leaves.size() > 1) ++treesWritten;
        return inner_.WriteDataTree(leaves);
    }
    ndb::Bid WriteStream(std::span<const uint8_t> bytes) override {
        blocksWritten += (bytes.size() + ndb::kMaxBlockData - 1) / ndb::kMaxBlockData;
        return inner_.WriteStream(bytes);
    }
    ndb::Bid WriteSubnodes(const ndb::SubnodeMap& subnodes) override {
        return inner_.WriteSubnodes(subnodes);
    }
    void PutNode(const ndb::NodeEntry& entry) override { inner_.PutNode(entry); }
    void RemoveNode(ndb::Nid nid) override { inner_.RemoveNode(nid); }
    ndb::Nid AllocateNid(uint32_t type) override { return inner_.AllocateNid(type); }
    void Commit() override { inner_.Commit(); }

    void reset() { blocksWritten = treesWritten = blocksRead = 0; }

  private:
    ndb::NodeDatabase& inner_;
};

}  // namespace pst::ltp::testing
