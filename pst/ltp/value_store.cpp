#include "pst/ltp/value_store.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pst/ltp/byte_io.h"

namespace pst::ltp {
namespace {

std::string TagText(uint32_t tag) {
    return "property " + Hex(tag);
}

size_t FixedElementSize(uint16_t base) {
    switch (base) {
        case kPtypInteger16:
            return 2;
        case kPtypInteger32:
        case kPtypFloating32:
        case kPtypErrorCode:
            return 4;
        case kPtypFloating64:
        case kPtypCurrency:
        case kPtypFloatingTime:
        case kPtypInteger64:
        case kPtypTime:
            return 8;
        case kPtypGuid:
            return 16;
        default:
            return 0;
    }
}

bool IsVariableBase(uint16_t base) {
    return base == kPtypString || base == kPtypString8 || base == kPtypBinary;
}

// Server id, restriction and rule action values: opaque bytes to this layer.
bool IsOpaque(uint16_t type) {
    return type == 0x00FB || type == 0x00FD || type == 0x00FE;
}

}  // namespace

ValueKind PcValueKind(uint16_t type) {
    switch (type) {
        case kPtypInteger16:
        case kPtypInteger32:
        case kPtypFloating32:
        case kPtypErrorCode:
        case kPtypBoolean:
            return ValueKind::kInline;
        case kPtypFloating64:
        case kPtypCurrency:
        case kPtypFloatingTime:
        case kPtypInteger64:
        case kPtypTime:
        case kPtypGuid:
            return ValueKind::kFixedHid;
        default:
            return ValueKind::kHnid;
    }
}

size_t InlineSize(uint16_t type) {
    if (type == kPtypBoolean) return 1;
    return type == kPtypGuid ? 0 : FixedElementSize(type);
}

void CheckValueBytes(uint32_t tag, std::span<const uint8_t> bytes) {
    uint16_t type = PropTypeOf(tag);
    auto fail = [&](const std::string& why) {
        throw std::invalid_argument(TagText(tag) + ": " + why + " (" +
                                    std::to_string(bytes.size()) + " bytes)");
    };
    if (type == kPtypBoolean) {
        if (bytes.size() != 1 && bytes.size() != 2 && bytes.size() != 4) fail("bad boolean size");
        return;
    }
    if (type == kPtypObject) {
        if (bytes.size() != 8) fail("object value must be {nid, size}, 8 bytes");
        return;
    }
    if (type & kPtypMultiple) {
        uint16_t base = type & ~kPtypMultiple;
        if (size_t e = FixedElementSize(base)) {
            if (bytes.size() % e != 0) fail("multi-valued size not a multiple of the element size");
            return;
        }
        if (!IsVariableBase(base)) fail("unsupported multi-valued type");
        if (bytes.empty()) return;
        uint32_t count = Get32(bytes, 0);
        if (bytes.size() < 4 + 4 * uint64_t(count)) fail("multi-valued offsets overrun the value");
        uint32_t prev = 4 + 4 * count;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t off = Get32(bytes, 4 + 4 * i);
            if (off < prev || off > bytes.size()) fail("multi-valued offsets out of order");
            prev = off;
        }
        return;
    }
    if (size_t e = FixedElementSize(type)) {
        if (bytes.size() != e) fail("wrong size for a fixed-size type");
        return;
    }
    if (type == kPtypString && bytes.size() % 2 != 0) fail("UTF-16 string of odd length");
    if (!IsVariableBase(type) && !IsOpaque(type)) fail("unsupported property type");
}

ndb::Nid ValueStore::NewValueNid() const {
    uint32_t index = 0x3FF;
    for (const auto& [nid, e] : subnodes_) {
        if (ndb::NidTypeOf(nid) == ndb::kNidTypeLtp && ndb::NidIndexOf(nid) > index) {
            index = ndb::NidIndexOf(nid);
        }
    }
    if (index >= (1u << 27) - 1) throw std::runtime_error("value store: subnode NIDs exhausted");
    return ndb::MakeNid(ndb::kNidTypeLtp, index + 1);
}

uint32_t ValueStore::StoreStream(const PropertyValue& value) {
    std::vector<uint8_t> pending;
    pending.reserve(ndb::kMaxBlockData);
    std::vector<ndb::Bid> leaves;
    uint64_t delivered = 0;
    const uint64_t expected = value.size();
    leaves.reserve((expected + ndb::kMaxBlockData - 1) / ndb::kMaxBlockData);
    value.Producer()([&](std::span<const uint8_t> chunk) {
        delivered += chunk.size();
        if (delivered > expected) {
            throw std::runtime_error(TagText(value.Tag()) + ": stream delivered more than its " +
                                     std::to_string(expected) + " bytes");
        }
        while (!chunk.empty()) {
            size_t take = std::min(chunk.size(), ndb::kMaxBlockData - pending.size());
            pending.insert(pending.end(), chunk.begin(), chunk.begin() + take);
            chunk = chunk.subspan(take);
            if (pending.size() == ndb::kMaxBlockData) {
                leaves.push_back(db_.WriteBlock(pending));
                pending.clear();
            }
        }
    });
    if (delivered != expected) {
        throw std::runtime_error(TagText(value.Tag()) + ": stream delivered " +
                                 std::to_string(delivered) + " of " + std::to_string(expected) +
                                 " bytes");
    }
    if (!pending.empty()) leaves.push_back(db_.WriteBlock(pending));
    ndb::Nid nid = NewValueNid();
    subnodes_[nid] = ndb::SubnodeEntry{db_.WriteDataTree(leaves), 0};
    return nid;
}

uint32_t ValueStore::Store(const PropertyValue& value) {
    if (value.size() == 0) return 0;
    if (value.IsStream()) {
        if (value.size() > kMaxHeapItem) return StoreStream(value);
        // A short stream is gathered and kept in the heap like any small value.
        std::vector<uint8_t> bytes;
        value.Producer()([&](std::span<const uint8_t> c) {
            if (bytes.size() + c.size() > value.size()) {
                throw std::runtime_error(TagText(value.Tag()) +
                                         ": stream delivered more than its " +
                                         std::to_string(value.size()) + " bytes");
            }
            bytes.insert(bytes.end(), c.begin(), c.end());
        });
        if (bytes.size() != value.size()) {
            throw std::runtime_error(TagText(value.Tag()) + ": stream delivered " +
                                     std::to_string(bytes.size()) + " of " +
                                     std::to_string(value.size()) + " bytes");
        }
        CheckValueBytes(value.Tag(), bytes);
        return heap_.Allocate(bytes);
    }
    CheckValueBytes(value.Tag(), value.Bytes());
    if (value.size() <= kMaxHeapItem) return heap_.Allocate(value.Bytes());
    ndb::Nid nid = NewValueNid();
    subnodes_[nid] = ndb::SubnodeEntry{db_.WriteStream(value.Bytes()), 0};
    return nid;
}

const ndb::SubnodeEntry& ValueStore::Entry(uint32_t nid) const {
    auto it = subnodes_.find(nid);
    if (it == subnodes_.end()) {
        throw std::runtime_error("value store: subnode " + Hex(nid) + " is missing");
    }
    return it->second;
}

void ValueStore::Release(uint32_t hnid) {
    if (hnid == 0) return;
    if (IsHid(hnid)) {
        heap_.Free(hnid);
    } else {
        subnodes_.erase(hnid);
    }
}

std::vector<uint8_t> ValueStore::Load(uint32_t hnid) const {
    if (hnid == 0) return {};
    if (IsHid(hnid)) return heap_.Read(hnid);
    return db_.ReadStream(Entry(hnid).data);
}

uint64_t ValueStore::size(uint32_t hnid) const {
    if (hnid == 0) return 0;
    if (IsHid(hnid)) return heap_.ItemSize(hnid);
    return db_.StreamSize(Entry(hnid).data);
}

void ValueStore::ReadChunks(uint32_t hnid,
                            const std::function<void(std::span<const uint8_t>)>& sink) const {
    if (hnid == 0) return;
    if (IsHid(hnid)) {
        auto bytes = heap_.Read(hnid);
        sink(bytes);
        return;
    }
    StreamReader reader(db_, Entry(hnid).data);
    std::vector<uint8_t> chunk;
    while (reader.Next(chunk)) sink(chunk);
}

StreamReader::StreamReader(const ndb::NodeDatabase& db, ndb::Bid data) : db_(db) {
    if (data != 0) {
        blocks_ = db.DataBlocks(data);
        size_ = db.StreamSize(data);
    }
}

bool StreamReader::Next(std::vector<uint8_t>& chunk) {
    if (index_ >= blocks_.size()) return false;
    chunk = db_.ReadBlock(blocks_[index_++]);
    return true;
}

}  // namespace pst::ltp
