#pragma once

#include <cstdint>
#include <memory>

#include "mime/tnef.h"
#include "pst/messaging/message_content.h"

namespace mime {

// A message attached inside TNEF as message content: its own property list, defaults for what
// every message needs (class, times, flags, display strings), and its attachments. `filetime`
// stands in for times the list does not give.
std::shared_ptr<pst::messaging::MessageContent> MessageFromTnef(const TnefContent& tnef,
                                                                uint64_t filetime, int depth = 0);

}  // namespace mime
