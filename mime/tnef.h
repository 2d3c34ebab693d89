#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pst/ltp/property.h"

namespace mime {

struct TnefContent;

// One attachment carried inside a TNEF stream.
struct TnefAttachment {
    std::string name;       // UTF-8; long file name when present, else the 8.3 title
    std::string mimeType;   // PR_ATTACH_MIME_TAG when present
    std::string contentId;  // PR_ATTACH_CONTENT_ID when present
    std::vector<uint8_t> data;
    bool embeddedObject = false;            // an attached message kept as its raw object bytes
    std::shared_ptr<TnefContent> embedded;  // that message, decoded, when it is TNEF
};

// What a TNEF stream (winmail.dat) holds that the import uses.
struct TnefContent {
    std::vector<TnefAttachment> attachments;
    std::vector<uint8_t> rtfCompressed;  // PR_RTF_COMPRESSED as stored
    std::string body;                    // plain body, UTF-8
    std::vector<uint8_t> html;           // PR_HTML bytes
    uint32_t htmlCodePage = 0;
    // Every single-valued, non-named property of the message property list, in the format's
    // byte form (8-bit strings converted to Unicode ones).
    std::vector<pst::PropertyValue> messageProps;
};

// Decodes a TNEF stream. Bounded: every length is checked against the data; nullopt with
// `error` set when the stream is not TNEF or is cut or corrupt.
// Attached messages are decoded `depth` levels deep at most.
std::optional<TnefContent> ParseTnef(std::span<const uint8_t> data, std::string* error,
                                     int depth = 4);

}  // namespace mime
