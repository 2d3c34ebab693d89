#include "pst/messaging/name_id_map.h"

#include <algorithm>
#include <array>
#include <string>

#include "pst/messaging/errors.h"
#include "pst/ndb/crc.h"

namespace pst::messaging {
namespace {

using Guid = std::array<uint8_t, 16>;

// {GUID-as-text} in its stored (little-endian) byte order.
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, std::array<uint8_t, 8> d) {
    return {uint8_t(a),
            uint8_t(a >> 8),
            uint8_t(a >> 16),
            uint8_t(a >> 24),
            uint8_t(b),
            uint8_t(b >> 8),
            uint8_t(c),
            uint8_t(c >> 8),
            d[0],
            d[1],
            d[2],
            d[3],
            d[4],
            d[5],
            d[6],
            d[7]};
}
constexpr std::array<uint8_t, 8> kOleTail{0xC0, 0, 0, 0, 0, 0, 0, 0x46};

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) throw MessagingError("name-to-id map: stream entry beyond its end");
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& s) {
    std::vector<uint8_t> out;
    for (char16_t c : s) Put16(out, uint16_t(c));
    return out;
}

}  // namespace

const Guid kPsMapi = MakeGuid(0x00020328, 0, 0, kOleTail);
const Guid kPsPublicStrings = MakeGuid(0x00020329, 0, 0, kOleTail);

NameIdMap NameIdMap::Prefilled() {
    const Guid appointment = MakeGuid(0x00062002, 0, 0, kOleTail);
    const Guid internetHeaders = MakeGuid(0x00020386, 0, 0, kOleTail);
    const Guid common = MakeGuid(0x00062008, 0, 0, kOleTail);
    const Guid mentions =
        MakeGuid(0x41F28F13, 0x83F4, 0x4114, {0xA5, 0x84, 0xEE, 0xDB, 0x5A, 0x6B, 0x0B, 0xFF});
    const Guid sharing = MakeGuid(0x00062014, 0, 0, kOleTail);
    const Guid task = MakeGuid(0x00062003, 0, 0, kOleTail);
    struct Seed {
        const Guid* guid;
        uint32_t id;
        const char16_t* name;
    };
    // The names a new data file comes with, in their order (their ids are 0x8000 + position).
    const Seed seeds[] = {
        {&appointment, 0x8205, nullptr},
        {&appointment, 0x8223, nullptr},
        {&appointment, 0x8231, nullptr},
        {&appointment, 0x8216, nullptr},
        {&appointment, 0x820D, nullptr},
        {&appointment, 0x820E, nullptr},
        {&appointment, 0x8235, nullptr},
        {&appointment, 0x8236, nullptr},
        {&appointment, 0x8233, nullptr},
        {&internetHeaders, 0, u"content-class"},
        {&kPsPublicStrings, 0, u"DRMLicense"},
        {&internetHeaders, 0, u"x-cr-hashedpuzzle"},
        {&internetHeaders, 0, u"x-cr-puzzleid"},
        {&common, 0x8580, nullptr},
        {&common, 0x8581, nullptr},
        {&kPsPublicStrings, 0, u"urn:schemas-microsoft-com:office:outlook#storetypeprivate"},
        {&common, 0x8510, nullptr},
        {&common, 0x8578, nullptr},
        {&mentions, 0, u"IsMentioned"},
        {&kPsPublicStrings, 0, u"Keywords"},
        {&sharing, 0x8F05, nullptr},
        {&common, 0x8514, nullptr},
        {&sharing, 0x8F07, nullptr},
        {&common, 0x8503, nullptr},
        {&common, 0x85A8, nullptr},
        {&common, 0x8502, nullptr},
        {&task, 0x8104, nullptr},
        {&task, 0x8105, nullptr},
        {&task, 0x811C, nullptr},
        {&internetHeaders, 0, u"x-ms-exchange-organization-authdomain"},
        {&kPsPublicStrings, 0, u"DoNotForward"},
        {&common, 0x8570, nullptr},
        {&task, 0x8101, nullptr},
        {&common, 0x85E0, nullptr},
        {&common, 0x8552, nullptr},
    };
    NameIdMap map;
    for (const Seed& s : seeds) {
        PropertyName name;
        name.guid = *s.guid;
        if (s.name)
            name.name = std::u16string(s.name);
        else
            name.name = s.id;
        map.IdFor(name);
    }
    map.dirty_ = false;
    return map;
}

NameIdMap NameIdMap::FromProperties(const std::vector<PropertyValue>& props) {
    std::optional<ValueBytes> guidStream, entryStream, stringStream;
    for (const auto& p : props) {
        if (p.Tag() == 0x00020102) guidStream = p.Bytes();
        if (p.Tag() == 0x00030102) entryStream = p.Bytes();
        if (p.Tag() == 0x00040102) stringStream = p.Bytes();
    }
    if (!entryStream) throw MessagingError("name-to-id map: no entry stream (0x00030102)");
    NameIdMap map;
    if (guidStream) {
        if (guidStream->size() % 16)
            throw MessagingError("name-to-id map: GUID stream size is not a multiple of 16");
        for (size_t i = 0; i < guidStream->size(); i += 16) {
            Guid g;
            std::copy_n(guidStream->begin() + i, 16, g.begin());
            map.guids_.push_back(g);
        }
    }
    if (stringStream) map.strings_.assign(stringStream->begin(), stringStream->end());
    if (entryStream->size() % 8)
        throw MessagingError("name-to-id map: entry stream size is not a multiple of 8");
    for (size_t i = 0; i < entryStream->size(); i += 8) {
        Entry e;
        e.propertyId = Get32(*entryStream, i);
        uint16_t w = uint16_t((*entryStream)[i + 4] | (*entryStream)[i + 5] << 8);
        uint16_t index = uint16_t((*entryStream)[i + 6] | (*entryStream)[i + 7] << 8);
        if (index != map.entries_.size())
            throw MessagingError("name-to-id map: entry " + std::to_string(i / 8) + " has index " +
                                 std::to_string(index));
        e.guidIndex = w >> 1;
        if (e.guidIndex == 1)
            e.name.guid = kPsMapi;
        else if (e.guidIndex == 2)
            e.name.guid = kPsPublicStrings;
        else if (e.guidIndex >= 3 && size_t(e.guidIndex - 3) < map.guids_.size())
            e.name.guid = map.guids_[e.guidIndex - 3];
        else
            throw MessagingError("name-to-id map: entry " + std::to_string(index) + " names GUID " +
                                 std::to_string(e.guidIndex) + " beyond the GUID stream");
        if (w & 1) {
            uint32_t len = Get32(map.strings_, e.propertyId);
            if (len % 2 || e.propertyId + 4 + len > map.strings_.size())
                throw MessagingError("name-to-id map: string name of entry " +
                                     std::to_string(index) + " is malformed");
            std::u16string s;
            for (uint32_t k = 0; k < len; k += 2)
                s.push_back(char16_t(map.strings_[e.propertyId + 4 + k] |
                                     map.strings_[e.propertyId + 5 + k] << 8));
            e.name.name = std::move(s);
        } else {
            e.name.name = e.propertyId;
        }
        map.index_[{e.name.guid, e.name.name}] = index;
        map.entries_.push_back(std::move(e));
    }
    return map;
}

std::optional<uint16_t> NameIdMap::Find(const PropertyName& name) const {
    auto it = index_.find({name.guid, name.name});
    if (it == index_.end()) return std::nullopt;
    return uint16_t(kFirstNamedId + it->second);
}

uint16_t NameIdMap::GuidIndexFor(const Guid& guid) {
    if (guid == kPsMapi) return 1;
    if (guid == kPsPublicStrings) return 2;
    for (size_t i = 0; i < guids_.size(); ++i)
        if (guids_[i] == guid) return uint16_t(3 + i);
    guids_.push_back(guid);
    return uint16_t(3 + guids_.size() - 1);
}

uint16_t NameIdMap::IdFor(const PropertyName& name) {
    if (auto id = Find(name)) return *id;
    // Ids run from 0x8000 to 0xFFFE.
    if (entries_.size() >= 0x7FFF) throw MessagingError("name-to-id map is full (32767 names)");
    Entry e;
    e.name = name;
    e.guidIndex = GuidIndexFor(name.guid);
    if (const auto* s = std::get_if<std::u16string>(&name.name)) {
        e.propertyId = uint32_t(strings_.size());
        Put32(strings_, uint32_t(s->size() * 2));
        for (char16_t c : *s) Put16(strings_, uint16_t(c));
        while (strings_.size() % 4) strings_.push_back(0);
    } else {
        e.propertyId = std::get<uint32_t>(name.name);
    }
    uint16_t index = uint16_t(entries_.size());
    index_[{name.guid, name.name}] = index;
    entries_.push_back(std::move(e));
    dirty_ = true;
    return uint16_t(kFirstNamedId + index);
}

const PropertyName* NameIdMap::NameOf(uint16_t id) const {
    if (id < kFirstNamedId || size_t(id - kFirstNamedId) >= entries_.size()) return nullptr;
    return &entries_[id - kFirstNamedId].name;
}

std::vector<PropertyValue> NameIdMap::ToProperties() const {
    std::vector<uint8_t> guidStream, entryStream;
    for (const auto& g : guids_) guidStream.insert(guidStream.end(), g.begin(), g.end());
    std::map<uint32_t, std::vector<uint8_t>> buckets;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const bool isString = std::holds_alternative<std::u16string>(e.name.name);
        const uint16_t w = uint16_t((e.guidIndex << 1) | (isString ? 1 : 0));
        Put32(entryStream, e.propertyId);
        Put16(entryStream, w);
        Put16(entryStream, uint16_t(i));
        // Buckets hash the numeric id, or the CRC of the UTF-16 name, with the GUID word.
        const uint32_t key =
            isString ? ndb::Crc(Utf16Bytes(std::get<std::u16string>(e.name.name))) : e.propertyId;
        auto& bucket = buckets[0x1000 + (key ^ w) % kBucketCount];
        Put32(bucket, key);
        Put16(bucket, w);
        Put16(bucket, uint16_t(i));
    }
    std::vector<PropertyValue> props;
    props.push_back(PropertyValue::Int32(0x00010003, int32_t(kBucketCount)));
    props.emplace_back(0x00020102, std::move(guidStream));
    props.emplace_back(0x00030102, std::move(entryStream));
    props.emplace_back(0x00040102, strings_);
    for (auto& [id, bytes] : buckets) props.emplace_back((id << 16) | 0x0102, std::move(bytes));
    return props;
}

}  // namespace pst::messaging
