#pragma once

#include <cstdint>
#include <map>

namespace pst::ndb {

// Node and block identifiers as the format defines them.
using Nid = uint32_t;
using Bid = uint64_t;
using Ib = uint64_t;  // absolute file offset

enum NidType : uint32_t {
    kNidTypeHid = 0x00,
    kNidTypeInternal = 0x01,
    kNidTypeNormalFolder = 0x02,
    kNidTypeSearchFolder = 0x03,
    kNidTypeNormalMessage = 0x04,
    kNidTypeAttachment = 0x05,
    kNidTypeSearchUpdateQueue = 0x06,
    kNidTypeSearchCriteriaObject = 0x07,
    kNidTypeAssocMessage = 0x08,
    kNidTypeContentsTableIndex = 0x0A,
    kNidTypeReceiveFolderTable = 0x0B,
    kNidTypeOutgoingQueueTable = 0x0C,
    kNidTypeHierarchyTable = 0x0D,
    kNidTypeContentsTable = 0x0E,
    kNidTypeAssocContentsTable = 0x0F,
    kNidTypeSearchContentsTable = 0x10,
    kNidTypeAttachmentTable = 0x11,
    kNidTypeRecipientTable = 0x12,
    kNidTypeSearchTableIndex = 0x13,
    kNidTypeLtp = 0x1F,
};

constexpr Nid MakeNid(uint32_t type, uint32_t index) {
    return (index << 5) | (type & 0x1F);
}
constexpr uint32_t NidTypeOf(Nid nid) {
    return nid & 0x1F;
}
constexpr uint32_t NidIndexOf(Nid nid) {
    return nid >> 5;
}

// Largest data payload of one block.
constexpr size_t kMaxBlockData = 8176;

// One entry of a node's private subnode tree.
struct SubnodeEntry {
    Bid data = 0;
    Bid sub = 0;
    friend bool operator==(const SubnodeEntry&, const SubnodeEntry&) = default;
};
using SubnodeMap = std::map<Nid, SubnodeEntry>;

// One entry of the node B-tree.
struct NodeEntry {
    Nid nid = 0;
    Bid data = 0;
    Bid sub = 0;
    Nid parent = 0;
    friend bool operator==(const NodeEntry&, const NodeEntry&) = default;
};

}  // namespace pst::ndb
