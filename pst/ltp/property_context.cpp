#include "pst/ltp/property_context.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "pst/ltp/byte_io.h"

namespace pst::ltp {
namespace {

constexpr uint8_t kPcKeySize = 2;
constexpr uint8_t kPcDataSize = 6;

Hid NewPcRoot(Heap& heap) {
    Hid h = BTree::Create(heap, kPcKeySize, kPcDataSize);
    heap.SetUserRoot(h);
    return h;
}

Heap LoadPcHeap(const ndb::NodeDatabase& db, ndb::Bid data) {
    Heap heap(db, data);
    if (heap.ClientSig() != kClientSigPc) {
        throw std::runtime_error("PC: heap " + Hex(data) + " has client signature " +
                                 Hex(heap.ClientSig()) + ", not 0xBC");
    }
    return heap;
}

std::array<uint8_t, 2> Key(uint16_t id) {
    return {uint8_t(id), uint8_t(id >> 8)};
}

}  // namespace

PropertyContext::PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes)
    : db_(db), heap_(kClientSigPc), values_(heap_, db, subnodes), bth_(heap_, NewPcRoot(heap_)) {}

PropertyContext::PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes, ndb::Bid data)
    : db_(db),
      heap_(LoadPcHeap(db, data)),
      values_(heap_, db, subnodes),
      bth_(heap_, heap_.UserRoot()) {
    if (bth_.KeySize() != kPcKeySize || bth_.DataSize() != kPcDataSize) {
        throw std::runtime_error("PC: BTH " + Hex(heap_.UserRoot()) + " has key/data sizes " +
                                 std::to_string(bth_.KeySize()) + "/" +
                                 std::to_string(bth_.DataSize()) + ", not 2/6");
    }
}

PropertyContext::PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                                 std::span<const PropertyValue> values)
    : PropertyContext(db, subnodes) {
    std::vector<const PropertyValue*> pointers;
    pointers.reserve(values.size());
    for (const auto& v : values) pointers.push_back(&v);
    Fill(pointers);
}

PropertyContext::PropertyContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                                 std::span<const PropertyValue* const> values)
    : PropertyContext(db, subnodes) {
    Fill(values);
}

void PropertyContext::Fill(std::span<const PropertyValue* const> values) {
    // Records first, so the BTH leaf follows its header as in Outlook's PCs; the values are
    // then stored in the order given and their records filled in place.
    constexpr size_t kRecord = kPcKeySize + kPcDataSize;
    std::vector<uint16_t> ids;
    ids.reserve(values.size());
    for (const PropertyValue* v : values) ids.push_back(v->Id());
    std::sort(ids.begin(), ids.end());
    const bool oneLeaf = !ids.empty() && ids.size() * kRecord <= kMaxHeapItem &&
                         std::adjacent_find(ids.begin(), ids.end()) == ids.end();
    if (!oneLeaf) {
        // Repeated ids (the last value wins) or more records than a leaf holds.
        const std::vector<uint8_t> placeholder(kPcDataSize, 0);
        for (const PropertyValue* v : values) bth_.Put(Key(v->Id()), placeholder);
        for (const PropertyValue* v : values) Set(*v);
        return;
    }
    std::vector<uint8_t> records(ids.size() * kRecord, 0);
    for (size_t i = 0; i < ids.size(); ++i) Put16(records, i * kRecord, ids[i]);
    bth_.SetLeaf(records);
    for (const PropertyValue* v : values) {
        const size_t i = size_t(std::lower_bound(ids.begin(), ids.end(), v->Id()) - ids.begin());
        const uint32_t stored = StoreValue(*v);
        Put16(records, i * kRecord + kPcKeySize, v->Type());
        Put32(records, i * kRecord + kPcKeySize + 2, stored);
    }
    bth_.SetLeaf(records);
}

ndb::Bid PropertyContext::Write(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                                std::span<const PropertyValue> values) {
    PropertyContext pc(db, subnodes, values);
    return pc.Write();
}

std::optional<PropertyContext::Record> PropertyContext::GetRecord(uint16_t id) const {
    auto d = bth_.FindView(Key(id));
    if (!d) return std::nullopt;
    return Record{Get16(*d, 0), Get32(*d, 2)};
}

std::vector<uint32_t> PropertyContext::Tags() const {
    std::vector<uint32_t> out;
    bth_.ForEach([&out](std::span<const uint8_t> k, std::span<const uint8_t> d) {
        out.push_back(MakeTag(Get16(k, 0), Get16(d, 0)));
    });
    return out;
}

std::optional<uint32_t> PropertyContext::TagOf(uint16_t id) const {
    auto r = GetRecord(id);
    if (!r) return std::nullopt;
    return MakeTag(id, r->type);
}

PropertyValue PropertyContext::Decode(uint16_t id, const Record& r) const {
    uint32_t tag = MakeTag(id, r.type);
    switch (PcValueKind(r.type)) {
        case ValueKind::kInline: {
            std::array<uint8_t, 8> b{};
            const size_t n = InlineSize(r.type);
            PutLe(b, 0, r.value, n);
            return PropertyValue(tag, std::span<const uint8_t>(b.data(), n));
        }
        case ValueKind::kFixedHid:
            return PropertyValue(tag, heap_.Read(r.value));
        case ValueKind::kHnid:
            return PropertyValue(tag, values_.Load(r.value));
    }
    return {};
}

std::optional<PropertyValue> PropertyContext::Get(uint16_t id) const {
    auto r = GetRecord(id);
    if (!r) return std::nullopt;
    return Decode(id, *r);
}

std::vector<PropertyValue> PropertyContext::GetAll() const {
    std::vector<PropertyValue> out;
    bth_.ForEach([&](std::span<const uint8_t> k, std::span<const uint8_t> d) {
        out.push_back(Decode(Get16(k, 0), Record{Get16(d, 0), Get32(d, 2)}));
    });
    return out;
}

uint64_t PropertyContext::ValueSize(uint16_t id) const {
    auto r = GetRecord(id);
    if (!r) throw std::runtime_error("PC: no property with id " + Hex(id));
    switch (PcValueKind(r->type)) {
        case ValueKind::kInline:
            return InlineSize(r->type);
        case ValueKind::kFixedHid:
            return heap_.ItemSize(r->value);
        case ValueKind::kHnid:
            return values_.size(r->value);
    }
    return 0;
}

void PropertyContext::ReadChunks(uint16_t id,
                                 const std::function<void(std::span<const uint8_t>)>& sink) const {
    auto r = GetRecord(id);
    if (!r) throw std::runtime_error("PC: no property with id " + Hex(id));
    if (PcValueKind(r->type) == ValueKind::kHnid) {
        values_.ReadChunks(r->value, sink);
    } else {
        auto v = Decode(id, *r);
        sink(v.Bytes());
    }
}

void PropertyContext::ReleaseValue(const Record& r) {
    switch (PcValueKind(r.type)) {
        case ValueKind::kInline:
            break;
        case ValueKind::kFixedHid:
            heap_.Free(r.value);
            break;
        case ValueKind::kHnid:
            values_.Release(r.value);
            break;
    }
}

uint32_t PropertyContext::StoreValue(const PropertyValue& value) {
    const uint16_t type = value.Type();
    uint32_t stored = 0;
    switch (PcValueKind(type)) {
        case ValueKind::kInline: {
            if (value.IsStream()) throw std::invalid_argument("PC: stream for an inline type");
            CheckValueBytes(value.Tag(), value.Bytes());
            const auto& b = value.Bytes();
            stored = uint32_t(GetLe(b, 0, b.size()));
            if (type == kPtypBoolean) stored = stored != 0 ? 1 : 0;
            break;
        }
        case ValueKind::kFixedHid: {
            if (value.IsStream()) throw std::invalid_argument("PC: stream for a fixed-size type");
            CheckValueBytes(value.Tag(), value.Bytes());
            stored = heap_.Allocate(value.Bytes());
            break;
        }
        case ValueKind::kHnid:
            stored = values_.Store(value);
            break;
    }
    return stored;
}

void PropertyContext::Set(const PropertyValue& value) {
    const uint16_t type = value.Type();
    // The new value is stored before the old one is released, so a failure leaves the PC as
    // it was.
    const uint32_t stored = StoreValue(value);
    if (auto old = GetRecord(value.Id())) ReleaseValue(*old);
    std::array<uint8_t, kPcDataSize> data{};
    Put16(data, 0, type);
    Put32(data, 2, stored);
    bth_.Put(Key(value.Id()), data);
}

bool PropertyContext::Remove(uint16_t id) {
    auto r = GetRecord(id);
    if (!r) return false;
    ReleaseValue(*r);
    bth_.Erase(Key(id));
    return true;
}

ndb::Bid PropertyContext::Write() {
    return heap_.Write(db_);
}

}  // namespace pst::ltp
