#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mime/emlx.h"
#include "pst/messaging/message_content.h"

namespace mime {

// Where the parsed message came from: attachment data is read back from this file on demand.
struct MessageSource {
    std::string path;
    bool partialEmlx = false;
    uint64_t inMemoryLimit = 0;
    uint64_t inMemoryTotalLimit = 0;
    uint64_t* inMemoryTotal = nullptr;  // attachment bytes held in memory so far, whole file
    std::vector<std::string>* warnings = nullptr;
};

// What only the outermost message of a file has.
struct TopLevel {
    std::string rawHeaders;   // header block as stored in the file
    uint64_t bodyOffset = 0;  // file offset of the first byte after the header block
    uint64_t messageEnd = 0;  // file offset just past the message
    uint64_t messageSize = 0;
    std::optional<EmlxLayout> emlx;
};

// Fills `out` from a parsed message. `top` is null for embedded messages; `fallbackTime` (Unix
// seconds) stands in when the message carries no usable date; `partPrefix` is the IMAP-style
// part number of an embedded message ("" at the top).
void BuildMessage(GMimeMessage* message, const MessageSource& source, const TopLevel* top,
                  int64_t fallbackTime, int depth, const std::string& partPrefix,
                  pst::messaging::MessageContent& out);

}  // namespace mime
