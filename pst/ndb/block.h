#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

// The disk image of a block: the stored (already encoded) data, zero padding to a multiple of
// 64 bytes, and the BLOCKTRAILER with the CRC of the stored data.
std::vector<uint8_t> MakeBlockImage(std::span<const uint8_t> stored, Bid bid, Ib ib);
// The same in place: `image` is BlockDiskSize(cb) bytes whose first `cb` are the stored data
// and the rest zero; writes the trailer.
void SealBlockImage(std::span<uint8_t> image, uint16_t cb, Bid bid, Ib ib);

// Checks a block image's trailer against its BBT entry; empty when sound.
std::string CheckBlockTrailer(std::span<const uint8_t> image, uint16_t cb, Bid bid, Ib ib);

// XBLOCK (level 1, leaves) and XXBLOCK (level 2, XBLOCKs).
struct DataTreeBlock {
    uint8_t level = 1;
    uint32_t lcbTotal = 0;
    std::vector<Bid> children;
};
std::vector<uint8_t> EncodeDataTreeBlock(const DataTreeBlock& block);
// The same into `out` (replacing what it held), for callers that reuse one buffer.
void EncodeDataTreeBlock(uint8_t level, uint32_t lcbTotal, std::span<const Bid> children,
                         std::vector<uint8_t>& out);
// Throws NdbError naming `bid` when the bytes are not a well-formed XBLOCK/XXBLOCK.
DataTreeBlock DecodeDataTreeBlock(std::span<const uint8_t> bytes, Bid bid);

// SLBLOCK (level 0, entries) and SIBLOCK (level 1, SLBLOCKs keyed by their first NID).
struct SubnodeLeafEntry {
    Nid nid = 0;
    Bid data = 0;
    Bid sub = 0;
};
struct SubnodeIndexEntry {
    Nid nid = 0;
    Bid block = 0;
};
struct SubnodeTreeBlock {
    uint8_t level = 0;
    std::vector<SubnodeLeafEntry> entries;  // level 0
    std::vector<SubnodeIndexEntry> index;   // level 1
};
std::vector<uint8_t> EncodeSubnodeTreeBlock(const SubnodeTreeBlock& block);
SubnodeTreeBlock DecodeSubnodeTreeBlock(std::span<const uint8_t> bytes, Bid bid);

// The btype byte tells the two internal kinds apart.
constexpr uint8_t kBtypeDataTree = 0x01;
constexpr uint8_t kBtypeSubnodeTree = 0x02;

}  // namespace pst::ndb
