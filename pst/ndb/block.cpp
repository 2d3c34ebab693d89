#include "pst/ndb/block.h"

#include <algorithm>

#include "pst/ndb/bytes.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/errors.h"

namespace pst::ndb {

std::vector<uint8_t> MakeBlockImage(std::span<const uint8_t> stored, Bid bid, Ib ib) {
    if (stored.size() > kMaxBlockData) {
        throw NdbError("block " + Hex(bid) + ": " + std::to_string(stored.size()) +
                       " bytes exceed the block limit of 8176");
    }
    std::vector<uint8_t> image(BlockDiskSize(stored.size()), 0);
    std::copy(stored.begin(), stored.end(), image.begin());
    SealBlockImage(image, static_cast<uint16_t>(stored.size()), bid, ib);
    return image;
}

void SealBlockImage(std::span<uint8_t> image, uint16_t cb, Bid bid, Ib ib) {
    if (cb > kMaxBlockData || image.size() != BlockDiskSize(cb)) {
        throw NdbError("block " + Hex(bid) + ": image of " + std::to_string(image.size()) +
                       " bytes does not fit " + std::to_string(cb) + " bytes of data");
    }
    uint8_t* t = image.data() + image.size() - kBlockTrailerSize;
    Put16(t, cb);
    Put16(t + 2, Signature(ib, bid));
    Put32(t + 4, Crc(image.first(cb)));
    Put64(t + 8, bid);
}

std::string CheckBlockTrailer(std::span<const uint8_t> image, uint16_t cb, Bid bid, Ib ib) {
    const std::string where = "block " + Hex(bid) + " at " + Hex(ib);
    if (image.size() != BlockDiskSize(cb)) return where + ": wrong image size";
    const uint8_t* t = image.data() + image.size() - kBlockTrailerSize;
    if (Get16(t) != cb) {
        return where + ": trailer cb " + std::to_string(Get16(t)) + ", BBT says " +
               std::to_string(cb);
    }
    if (BidKey(Get64(t + 8)) != BidKey(bid)) return where + ": trailer BID " + Hex(Get64(t + 8));
    if (Get16(t + 2) != Signature(ib, Get64(t + 8))) {
        return where + ": signature " + Hex(Get16(t + 2)) + ", expected " +
               Hex(Signature(ib, Get64(t + 8)));
    }
    const uint32_t crc = Crc(image.first(cb));
    if (Get32(t + 4) != crc) {
        return where + ": data CRC stored " + Hex(Get32(t + 4)) + ", computed " + Hex(crc);
    }
    return {};
}

std::vector<uint8_t> EncodeDataTreeBlock(const DataTreeBlock& block) {
    std::vector<uint8_t> out;
    EncodeDataTreeBlock(block.level, block.lcbTotal, block.children, out);
    return out;
}

void EncodeDataTreeBlock(uint8_t level, uint32_t lcbTotal, std::span<const Bid> children,
                         std::vector<uint8_t>& out) {
    out.resize(8 + 8 * children.size());
    out[0] = kBtypeDataTree;
    out[1] = level;
    Put16(out.data() + 2, static_cast<uint16_t>(children.size()));
    Put32(out.data() + 4, lcbTotal);
    for (size_t i = 0; i < children.size(); ++i) Put64(&out[8 + 8 * i], children[i]);
}

DataTreeBlock DecodeDataTreeBlock(std::span<const uint8_t> bytes, Bid bid) {
    const std::string where = "data tree block " + Hex(bid);
    if (bytes.size() < 8 || bytes[0] != kBtypeDataTree) {
        throw NdbError(where + ": not an XBLOCK/XXBLOCK", NdbError::Cause::Damaged);
    }
    DataTreeBlock block;
    block.level = bytes[1];
    const uint16_t count = Get16(bytes.data() + 2);
    block.lcbTotal = Get32(bytes.data() + 4);
    if (block.level != 1 && block.level != 2) {
        throw NdbError(where + ": level " + std::to_string(block.level), NdbError::Cause::Damaged);
    }
    if (count == 0 || 8 + 8 * size_t{count} > bytes.size()) {
        throw NdbError(where + ": entry count " + std::to_string(count) + " does not fit",
                       NdbError::Cause::Damaged);
    }
    block.children.resize(count);
    for (size_t i = 0; i < count; ++i) block.children[i] = Get64(&bytes[8 + 8 * i]);
    return block;
}

std::vector<uint8_t> EncodeSubnodeTreeBlock(const SubnodeTreeBlock& block) {
    const size_t count = block.level == 0 ? block.entries.size() : block.index.size();
    const size_t size = block.level == 0 ? 24 : 16;
    std::vector<uint8_t> out(8 + size * count, 0);
    out[0] = kBtypeSubnodeTree;
    out[1] = block.level;
    Put16(out.data() + 2, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = &out[8 + size * i];
        if (block.level == 0) {
            Put64(p, block.entries[i].nid);
            Put64(p + 8, block.entries[i].data);
            Put64(p + 16, block.entries[i].sub);
        } else {
            Put64(p, block.index[i].nid);
            Put64(p + 8, block.index[i].block);
        }
    }
    return out;
}

SubnodeTreeBlock DecodeSubnodeTreeBlock(std::span<const uint8_t> bytes, Bid bid) {
    const std::string where = "subnode tree block " + Hex(bid);
    if (bytes.size() < 8 || bytes[0] != kBtypeSubnodeTree) {
        throw NdbError(where + ": not an SLBLOCK/SIBLOCK", NdbError::Cause::Damaged);
    }
    SubnodeTreeBlock block;
    block.level = bytes[1];
    const uint16_t count = Get16(bytes.data() + 2);
    if (block.level > 1) {
        throw NdbError(where + ": level " + std::to_string(block.level), NdbError::Cause::Damaged);
    }
    const size_t size = block.level == 0 ? 24 : 16;
    if (count == 0 || 8 + size * count > bytes.size()) {
        throw NdbError(where + ": entry count " + std::to_string(count) + " does not fit",
                       NdbError::Cause::Damaged);
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &bytes[8 + size * i];
        // Only the low 32 bits of a NID field count; the rest may hold junk.
        if (block.level == 0) {
            block.entries.push_back({Get32(p), Get64(p + 8), Get64(p + 16)});
        } else {
            block.index.push_back({Get32(p), Get64(p + 8)});
        }
    }
    return block;
}

}  // namespace pst::ndb
