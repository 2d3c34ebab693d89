#include "mime/attachment_props.h"

#include "mime/attachment_name.h"
#include "mime/tags.h"

namespace mime {

using pst::PropertyValue;
using pst::messaging::MessageContent;
using pst::messaging::PropertySet;

void SetAttachmentNames(PropertySet& p, std::string name, const std::string& mimeType,
                        size_t number) {
    name = SanitizeFileName(name);
    if (name.empty()) {
        name = mimeType == "text/calendar"
                   ? "invite.ics"
                   : "attachment" + std::to_string(number) + ExtensionForMimeType(mimeType);
    }
    p.Set(PropertyValue::StringUtf8(tag::kAttachLongFilename, name));
    p.Set(PropertyValue::StringUtf8(tag::kAttachFilename, ShortFileName(name)));
    p.Set(PropertyValue::StringUtf8(tag::kAttachExtension, ExtensionOf(name)));
    p.Set(PropertyValue::StringUtf8(tag::kDisplayName, name));
}

void SetAttachmentDefaults(PropertySet& p, int32_t number, uint64_t filetime) {
    p.Set(PropertyValue::Int32(tag::kAttachNum, number));
    p.Set(PropertyValue::Int32(tag::kObjectType, 7));  // MAPI_ATTACH
    p.Set(PropertyValue::Int32(tag::kRenderingPosition, -1));
    p.Set(PropertyValue::Int32(tag::kAttachFlags, 0));
    p.Set(PropertyValue::Bool(tag::kAttachmentHidden, false));
    p.Set(PropertyValue::Time(tag::kCreationTime, filetime));
    p.Set(PropertyValue::Time(tag::kLastModificationTime, filetime));
}

uint64_t ContentSize(const MessageContent& m) {
    uint64_t total = 0;
    for (const auto& v : m.props.values) total += v.size();
    for (const auto& r : m.recipients)
        for (const auto& v : r.props.values) total += v.size();
    for (const auto& a : m.attachments) {
        for (const auto& v : a.props.values) total += v.size();
        if (a.embedded) total += ContentSize(*a.embedded);
    }
    return total;
}

}  // namespace mime
