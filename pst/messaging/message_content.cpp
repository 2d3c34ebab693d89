#include "pst/messaging/message_content.h"

namespace pst::messaging {

void PropertySet::Set(PropertyValue value) {
    for (auto& v : values) {
        if (v.Tag() == value.Tag()) {
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

const PropertyValue* PropertySet::Find(uint32_t tag) const {
    for (const auto& v : values)
        if (v.Tag() == tag) return &v;
    return nullptr;
}

}  // namespace pst::messaging
