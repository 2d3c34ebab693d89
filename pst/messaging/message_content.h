#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "pst/ltp/property.h"

namespace pst::messaging {

// A named property's name: a property set GUID and either a numeric id or a string name.
struct PropertyName {
    std::array<uint8_t, 16> guid{};
    std::variant<uint32_t, std::u16string> name;
    friend bool operator==(const PropertyName&, const PropertyName&) = default;
};

// A value of a named property: the type in `value.Tag()` is used; its id part is ignored and
// replaced by the id the store's name-to-id map gives the name.
struct NamedValue {
    PropertyName name;
    PropertyValue value;
};

struct PropertySet {
    std::vector<PropertyValue> values;  // tagged properties (ids below 0x8000)
    std::vector<NamedValue> named;

    // Replaces a value with the same tag, or appends.
    void Set(PropertyValue value);
    const PropertyValue* Find(uint32_t tag) const;
};

struct MessageContent;

// One recipient row (PidTagRecipientType, display name, address, ...).
struct Recipient {
    PropertySet props;
};

// An attachment: by value (PidTagAttachDataBinary in props, possibly a stream) or an embedded
// message (method 5), whose content is `embedded`.
struct Attachment {
    PropertySet props;
    std::shared_ptr<MessageContent> embedded;
};

// Everything one message holds, independent of how it is stored.
struct MessageContent {
    PropertySet props;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
};

}  // namespace pst::messaging
