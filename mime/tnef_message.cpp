#include "mime/tnef_message.h"

#include <algorithm>

#include "fs/text.h"
#include "mime/attachment_props.h"
#include "mime/tags.h"

namespace mime {

using pst::PropertyValue;
using pst::messaging::Attachment;
using pst::messaging::MessageContent;

std::shared_ptr<MessageContent> MessageFromTnef(const TnefContent& t, uint64_t time, int depth) {
    auto m = std::make_shared<MessageContent>();
    auto& p = m->props;
    for (const auto& v : t.messageProps) p.set(v);
    if (!p.find(tag::kMessageClass))
        p.set(PropertyValue::StringUtf8(tag::kMessageClass, "IPM.Note"));
    if (!p.find(tag::kSubject)) p.set(PropertyValue::String(tag::kSubject, u""));
    for (uint32_t timeTag : {tag::kClientSubmitTime, tag::kMessageDeliveryTime, tag::kCreationTime,
                             tag::kLastModificationTime})
        if (!p.find(timeTag)) p.set(PropertyValue::Time(timeTag, time));
    if (!p.find(tag::kImportance)) p.set(PropertyValue::Int32(tag::kImportance, 1));
    if (!p.find(tag::kSensitivity)) p.set(PropertyValue::Int32(tag::kSensitivity, 0));
    if (!p.find(tag::kBody) && !t.body.empty())
        p.set(PropertyValue::StringUtf8(tag::kBody, t.body));
    for (uint32_t displayTag : {tag::kDisplayTo, tag::kDisplayCc, tag::kDisplayBcc})
        if (!p.find(displayTag)) p.set(PropertyValue::String(displayTag, u""));
    for (const auto& ta : t.attachments) {
        Attachment a;
        auto& ap = a.props;
        int32_t num = int32_t(m->attachments.size());
        ap.set(PropertyValue::Int32(tag::kAttachNum, num));
        ap.set(PropertyValue::Int32(tag::kObjectType, 7));
        ap.set(PropertyValue::Int32(tag::kRenderingPosition, -1));
        ap.set(PropertyValue::Int32(tag::kAttachFlags, 0));
        ap.set(PropertyValue::Bool(tag::kAttachmentHidden, false));
        if (ta.embedded && depth < 8) {
            ap.set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachEmbeddedMessage));
            a.embedded = MessageFromTnef(*ta.embedded, time, depth + 1);
            const PropertyValue* subject = a.embedded->props.find(tag::kSubject);
            ap.set(PropertyValue::String(tag::kDisplayName, subject ? subject->asString() : u""));
        } else {
            std::string type =
                ta.mimeType.empty() ? "application/octet-stream" : fs::LowerAscii(ta.mimeType);
            ap.set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
            ap.set(PropertyValue::StringUtf8(tag::kAttachMimeTag, type));
            SetAttachmentNames(ap, ta.name, type, size_t(num + 1));
            ap.set(PropertyValue::Binary(tag::kAttachDataBinary, ta.data));
        }
        ap.set(PropertyValue::Int32(tag::kAttachSize,
                                    int32_t(std::min<size_t>(ta.data.size(), INT32_MAX))));
        m->attachments.push_back(std::move(a));
    }
    bool hasAttach = !m->attachments.empty();
    p.set(PropertyValue::Int32(tag::kMessageFlags,
                               tag::kMfRead | (hasAttach ? tag::kMfHasAttach : 0)));
    p.set(PropertyValue::Bool(tag::kHasAttach, hasAttach));
    if (!p.find(tag::kMessageSize))
        p.set(PropertyValue::Int32(tag::kMessageSize,
                                   int32_t(std::min<uint64_t>(ContentSize(*m), INT32_MAX))));
    return m;
}

}  // namespace mime
