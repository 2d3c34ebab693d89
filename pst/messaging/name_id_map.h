#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "pst/ltp/property.h"
#include "pst/messaging/message_content.h"

namespace pst::messaging {

// Well-known property sets, as their 16 bytes are stored in the file.
extern const std::array<uint8_t, 16> kPsMapi;
extern const std::array<uint8_t, 16> kPsPublicStrings;

// The store's name-to-id map (node 0x61): named properties get ids 0x8000 + their position in
// the entry stream. Entries are never removed, so an id once handed out stays valid.
class NameIdMap {
  public:
    static constexpr uint32_t kBucketCount = 251;
    static constexpr uint16_t kFirstNamedId = 0x8000;

    // The map a newly created data file holds.
    static NameIdMap Prefilled();
    // The map stored in the given property context values (bucket count, streams).
    static NameIdMap FromProperties(const std::vector<PropertyValue>& props);

    std::optional<uint16_t> Find(const PropertyName& name) const;
    // The id of `name`, adding an entry when the name is new.
    uint16_t IdFor(const PropertyName& name);
    const PropertyName* NameOf(uint16_t id) const;
    size_t size() const { return entries_.size(); }
    // True after IdFor() added a name since construction or MarkClean().
    bool Dirty() const { return dirty_; }
    void MarkClean() { dirty_ = false; }

    // The property context values: bucket count, GUID, entry and string streams, buckets.
    std::vector<PropertyValue> ToProperties() const;

  private:
    struct Entry {
        PropertyName name;
        uint32_t propertyId = 0;  // numeric id, or byte offset of the name in the string stream
        uint16_t guidIndex = 0;   // 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, 3+ GUID stream position
    };
    uint16_t GuidIndexFor(const std::array<uint8_t, 16>& guid);

    std::vector<std::array<uint8_t, 16>> guids_;
    std::vector<Entry> entries_;
    std::vector<uint8_t> strings_;
    std::map<std::pair<std::array<uint8_t, 16>, std::variant<uint32_t, std::u16string>>, uint16_t>
        index_;
    bool dirty_ = false;
};

}  // namespace pst::messaging
