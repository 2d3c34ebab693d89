#pragma once

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "pst/ndb/node_database.h"

namespace pst::ltp::testing {

// A node database in memory with the interface's exact semantics: BIDs step by 4 with the
// internal bit on tree blocks, data trees as XBLOCK/XXBLOCK leaf lists, streams split into full
// 8176-byte blocks. It counts what is written, for cost tests.
class MemoryNodeDatabase : public ndb::NodeDatabase {
  public:
    struct Counts {
        size_t dataBlocks = 0;  // writeBlock calls and blocks made by writeStream
        size_t dataBytes = 0;
        size_t treeBlocks = 0;  // XBLOCKs/XXBLOCKs made
        size_t subnodeTrees = 0;
    };

    std::optional<ndb::NodeEntry> FindNode(ndb::Nid nid) const override {
        auto it = nodes_.find(nid);
        if (it == nodes_.end()) return std::nullopt;
        return it->second;
    }
    std::vector<uint8_t> ReadBlock(ndb::Bid bid) const override {
        auto it = blocks_.find(bid);
        if (it == blocks_.end()) throw std::runtime_error("no data block " + std::to_string(bid));
        ++blockReads_;
        return it->second;
    }
    std::vector<ndb::Bid> DataBlocks(ndb::Bid data) const override {
        if (data == 0) return {};
        if (blocks_.count(data)) return {data};
        auto it = trees_.find(data);
        if (it == trees_.end()) throw std::runtime_error("no stream " + std::to_string(data));
        std::vector<ndb::Bid> out;
        for (ndb::Bid child : it->second) {
            auto sub = DataBlocks(child);
            out.insert(out.end(), sub.begin(), sub.end());
        }
        return out;
    }
    std::vector<uint8_t> ReadStream(ndb::Bid data) const override {
        std::vector<uint8_t> out;
        for (ndb::Bid b : DataBlocks(data)) {
            auto block = ReadBlock(b);
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    }
    uint64_t StreamSize(ndb::Bid data) const override {
        uint64_t n = 0;
        for (ndb::Bid b : DataBlocks(data)) n += blocks_.at(b).size();
        return n;
    }
    ndb::SubnodeMap ReadSubnodes(ndb::Bid sub) const override {
        if (sub == 0) return {};
        auto it = subnodes_.find(sub);
        if (it == subnodes_.end())
            throw std::runtime_error("no subnode tree " + std::to_string(sub));
        return it->second;
    }

    ndb::Bid WriteBlock(std::span<const uint8_t> data) override {
        if (data.size() > ndb::kMaxBlockData) {
            throw std::invalid_argument("block of " + std::to_string(data.size()) + " bytes");
        }
        ndb::Bid bid = next(false);
        blocks_[bid].assign(data.begin(), data.end());
        ++counts_.dataBlocks;
        counts_.dataBytes += data.size();
        return bid;
    }
    ndb::Bid WriteDataTree(std::span<const ndb::Bid> leaves) override {
        if (leaves.empty()) return 0;
        for (ndb::Bid b : leaves) {
            if (!blocks_.count(b)) throw std::invalid_argument("data tree over a missing block");
        }
        if (leaves.size() == 1) return leaves[0];
        constexpr size_t kPerX = 1021;
        if (leaves.size() <= kPerX) return tree(leaves);
        std::vector<ndb::Bid> xblocks;
        for (size_t i = 0; i < leaves.size(); i += kPerX) {
            xblocks.push_back(tree(leaves.subspan(i, std::min(kPerX, leaves.size() - i))));
        }
        if (xblocks.size() > kPerX) throw std::invalid_argument("stream too large");
        return tree(xblocks);
    }
    ndb::Bid WriteStream(std::span<const uint8_t> bytes) override {
        std::vector<ndb::Bid> leaves;
        for (size_t off = 0; off < bytes.size(); off += ndb::kMaxBlockData) {
            leaves.push_back(
                WriteBlock(bytes.subspan(off, std::min(ndb::kMaxBlockData, bytes.size() - off))));
        }
        return WriteDataTree(leaves);
    }
    ndb::Bid WriteSubnodes(const ndb::SubnodeMap& subnodes) override {
        if (subnodes.empty()) return 0;
        ndb::Bid bid = next(true);
        subnodes_[bid] = subnodes;
        ++counts_.subnodeTrees;
        return bid;
    }
    void PutNode(const ndb::NodeEntry& entry) override { nodes_[entry.nid] = entry; }
    void RemoveNode(ndb::Nid nid) override { nodes_.erase(nid); }
    ndb::Nid AllocateNid(uint32_t type) override {
        return ndb::MakeNid(type, ++nextIndex_[type & 0x1F]);
    }
    void Commit() override {}

    const Counts& counts() const { return counts_; }
    void resetCounts() {
        counts_ = {};
        blockReads_ = 0;
    }
    size_t blockReads() const { return blockReads_; }

  private:
    ndb::Bid next(bool internal) {
        nextBid_ += 4;
        return nextBid_ | (internal ? 2 : 0);
    }
    ndb::Bid tree(std::span<const ndb::Bid> children) {
        ndb::Bid bid = next(true);
        trees_[bid].assign(children.begin(), children.end());
        ++counts_.treeBlocks;
        return bid;
    }

    ndb::Bid nextBid_ = 0;
    std::map<ndb::Bid, std::vector<uint8_t>> blocks_;
    std::map<ndb::Bid, std::vector<ndb::Bid>> trees_;
    std::map<ndb::Bid, ndb::SubnodeMap> subnodes_;
    std::map<ndb::Nid, ndb::NodeEntry> nodes_;
    std::map<uint32_t, uint32_t> nextIndex_;
    Counts counts_;
    mutable size_t blockReads_ = 0;
};

}  // namespace pst::ltp::testing
