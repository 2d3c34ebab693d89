#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pst/messaging/message_content.h"

namespace mime {

// Long and 8.3 file name, extension and display name of an attachment; an unnamed one is
// called attachment<number> with an extension for its MIME type (invite.ics for calendars).
void SetAttachmentNames(pst::messaging::PropertySet& props, std::string name,
                        const std::string& mimeType, size_t number);

// Properties every attachment object carries: number, object type, rendering position, flags,
// hidden state and times.
void SetAttachmentDefaults(pst::messaging::PropertySet& props, int32_t number, uint64_t filetime);

// Bytes of all property values, recipients and attachments (embedded messages included): the
// size of a message that has no source file of its own.
uint64_t ContentSize(const pst::messaging::MessageContent& message);

}  // namespace mime
