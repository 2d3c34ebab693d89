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

    std::optional<ndb::NodeEntry> findNode(ndb::Nid nid) const override {
        return inner_.findNode(nid);
    }
    std::vector<uint8_t> readBlock(ndb::Bid bid) const override {
        ++const_cast<CountingNodeDatabase*>(this)->blocksRead;
        return inner_.readBlock(bid);
    }
    std::vector<ndb::Bid> dataBlocks(ndb::Bid data) const override {
        return inner_.dataBlocks(data);
    }
    std::vector<uint8_t> readStream(ndb::Bid data) const override {
        return inner_.readStream(data);
    }
    uint64_t streamSize(ndb::Bid data) const override { return inner_.streamSize(data); }
    ndb::SubnodeMap readSubnodes(ndb::Bid sub) const override { return inner_.readSubnodes(sub); }
    ndb::Bid writeBlock(std::span<const uint8_t> data) override {
        ++blocksWritten;
        return inner_.writeBlock(data);
    }
    ndb::Bid writeDataTree(std::span<const ndb::Bid> leaves) override {
        if (leaves.size() > 1) ++treesWritten;
        return inner_.writeDataTree(leaves);
    }
    ndb::Bid writeStream(std::span<const uint8_t> bytes) override {
        blocksWritten += (bytes.size() + ndb::kMaxBlockData - 1) / ndb::kMaxBlockData;
        return inner_.writeStream(bytes);
    }
    ndb::Bid writeSubnodes(const ndb::SubnodeMap& subnodes) override {
        return inner_.writeSubnodes(subnodes);
    }
    void putNode(const ndb::NodeEntry& entry) override { inner_.putNode(entry); }
    void removeNode(ndb::Nid nid) override { inner_.removeNode(nid); }
    ndb::Nid allocateNid(uint32_t type) override { return inner_.allocateNid(type); }
    void commit() override { inner_.commit(); }

    void reset() { blocksWritten = treesWritten = blocksRead = 0; }

private:
    ndb::NodeDatabase& inner_;
};

}  // namespace pst::ltp::testing
