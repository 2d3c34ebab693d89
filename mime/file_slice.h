#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pst/ltp/property.h"

namespace mime {

// A stretch of a file holding transfer-encoded data, optionally preceded by literal bytes.
// Large attachment data is read from here on demand instead of being held in memory.
struct FileSlice {
    std::string path;
    uint64_t offset = 0;
    uint64_t length = 0;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;
    std::vector<uint8_t> prefix;  // sent before the decoded file bytes
    bool crlf = false;            // bare LF line ends become CRLF
};

// Reads and decodes the slice in chunks; throws std::runtime_error (with the system's text)
// when the file cannot be opened or read.
void ReadSlice(const FileSlice& slice, const std::function<void(std::span<const uint8_t>)>& sink);

// Decoded size, measured by one streaming pass.
uint64_t DecodedSize(const FileSlice& slice);

// A stream-valued property that decodes the slice each time it is read.
pst::PropertyValue SliceProperty(uint32_t tag, const FileSlice& slice, uint64_t decodedSize);

}  // namespace mime
