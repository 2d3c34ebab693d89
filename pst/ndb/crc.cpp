#include "pst/ndb/crc.h"

#include <zlib.h>

#include <limits>

namespace pst::ndb {

// zlib's CRC inverts its input and output; undoing both gives the seed-0, uninverted form.
uint32_t Crc(std::span<const uint8_t> bytes) {
    uLong c = 0xFFFFFFFFul;
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const auto n = static_cast<uInt>(std::min<size_t>(left, std::numeric_limits<uInt>::max()));
        c = crc32(c, p, n);
        p += n;
        left -= n;
    }
    return static_cast<uint32_t>(~c);
}

}  // namespace pst::ndb
