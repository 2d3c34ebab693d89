#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pst/messaging/message_content.h"

namespace mime {

struct ImportOptions {
    // Attachment data whose encoded size is above this is not held in memory: it is delivered
    // as a stream that decodes from the file on demand.
    uint64_t inMemoryAttachmentLimit = 4 * 1024 * 1024;
    // Once the attachments of one file held in memory reach this, the rest are streamed too.
    uint64_t inMemoryTotalLimit = 32 * 1024 * 1024;
    // Files up to this size are read whole, once, and parsed from memory; larger ones are parsed
    // through the descriptor, so that their big attachments never sit in memory.
    uint64_t inMemoryFileLimit = 16 * 1024 * 1024;
};

struct ImportResult {
    bool ok = false;
    std::string error;  // why the file could not be imported (when !ok)
    pst::messaging::MessageContent content;
    std::vector<std::string> warnings;  // what was imported only in part
    // SHA-256 of the file's bytes, all of them (an .emlx's count line and property list too):
    // the identity a data file keeps to recognise a message file it already holds.
    std::array<uint8_t, 32> sourceDigest{};
};

// Reads one message file (.eml, .emlx, .partial.emlx, or any RFC 5322 file) into message
// content. A message that parses only in part is ok with everything it holds. Never throws.
ImportResult ImportMessageFile(const std::string& path, const ImportOptions& options = {});

}  // namespace mime
