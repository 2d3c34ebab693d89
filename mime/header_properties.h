#pragma once

#include <gmime/gmime.h>

#include <cstdint>

#include "mime/message_builder.h"
#include "pst/messaging/message_content.h"

namespace mime {

struct MessageTimes {
    int64_t submit = 0;  // Unix seconds
    int64_t delivery = 0;
};

// Sets every property that comes from the header block: subject and conversation, sender and
// recipients, reply-to, times, ids, transport headers, importance and the like, search key and
// the generic headers as named properties. Times fall back from the emlx received date (at the
// top) to the topmost Received header, the Date header and finally `fallbackTime`.
MessageTimes SetHeaderProperties(GMimeMessage* message, const TopLevel* top, int64_t fallbackTime,
                                 pst::messaging::MessageContent& out);

}  // namespace mime
