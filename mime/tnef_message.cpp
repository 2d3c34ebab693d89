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
    for (const auto& v : t.messageProps) p.Set(v);
    if (!p.Find(tag::kMessageClass))
        p.Set(PropertyValue::StringUtf8(tag::kMessageClass, "IPM.Note"));
    if (!p.Find(tag::kSubject)) p.Set(PropertyValue::String(tag::kSubject, u""));
    for (uint32_t timeTag : {tag::kClientSubmitTime, tag::kMessageDeliveryTime, tag::kCreationTime,
                             tag::kLastModificationTime})
        if (!p.Find(timeTag)) p.Set(PropertyValue::Time(timeTag, time));
    if (!p.Find(tag::kImportance)) p.Set(PropertyValue::Int32(tag::kImportance, 1));
    if (!p.Find(tag::kSensitivity)) p.Set(PropertyValue::Int32(tag::kSensitivity, 0));
    if (!p.Find(tag::kBody) && !t.body.empty())
        p.Set(PropertyValue::StringUtf8(tag::kBody, t.body));
    for (uint32_t displayTag : {tag::kDisplayTo, tag::kDisplayCc, tag::kDisplayBcc})
        if (!p.Find(displayTag)) p.Set(PropertyValue::String(displayTag, u""));
    for (const auto& ta : t.attachments) {
        Attachment a;
        auto& ap = a.props;
        int32_t num = int32_t(m->attachments.size());
        ap.Set(PropertyValue::Int32(tag::kAttachNum, num));
        ap.Set(PropertyValue::Int32(tag::kObjectType, 7));
        ap.Set(PropertyValue::Int32(tag::kRenderingPosition, -1));
        ap.Set(PropertyValue::Int32(tag::kAttachFlags, 0));
        ap.Set(PropertyValue::Bool(tag::kAttachmentHidden, false));
        if (ta.embedded && depth < 8) {
            ap.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachEmbeddedMessage));
            a.embedded = MessageFromTnef(*ta.embedded, time, depth + 1);
            const PropertyValue* subject = a.embedded->props.Find(tag::kSubject);
            ap.Set(PropertyValue::String(tag::kDisplayName, subject ? subject->AsString() : u""));
        } else {
            std::string type =
                ta.mimeType.empty() ? "application/octet-stream" : fs::LowerAscii(ta.mimeType);
            ap.Set(PropertyValue::Int32(tag::kAttachMethod, tag::kAttachByValue));
            ap.Set(PropertyValue::StringUtf8(tag::kAttachMimeTag, type));
            SetAttachmentNames(ap, ta.name, type, size_t(num + 1));
            ap.Set(PropertyValue::Binary(tag::kAttachDataBinary, ta.data));
        }
        ap.Set(PropertyValue::Int32(tag::kAttachSize,
                                    int32_t(std::min<size_t>(ta.data.size(), INT32_MAX))));
        m->attachments.push_back(std::move(a));
    }
    bool hasAttach = !m->attachments.empty();
    p.Set(PropertyValue::Int32(tag::kMessageFlags,
                               tag::kMfRead | (hasAttach ? tag::kMfHasAttach : 0)));
    p.Set(PropertyValue::Bool(tag::kHasAttach, hasAttach));
    if (!p.Find(tag::kMessageSize))
        p.Set(PropertyValue::Int32(tag::kMessageSize,
                                   int32_t(std::min<uint64_t>(ContentSize(*m), INT32_MAX))));
    return m;
}

}  // namespace mime
