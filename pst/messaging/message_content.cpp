#include "pst/messaging/message_content.h"

namespace pst::messaging {

void PropertySet::set(PropertyValue value) {
    for (auto& v : values) {
        if (v.tag() == value.tag()) {
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

const PropertyValue* PropertySet::find(uint32_t tag) const {
    for (const auto& v : values)
        if (v.tag() == tag) return &v;
    return nullptr;
}

}  // namespace pst::messaging
