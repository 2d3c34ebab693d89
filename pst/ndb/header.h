#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "pst/ndb/encoding.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

struct Bref {
    Bid bid = 0;
    Ib ib = 0;
    friend bool operator==(const Bref&, const Bref&) = default;
};

// fAMapValid values.
constexpr uint8_t kAMapInvalid = 0;
constexpr uint8_t kAMapValid = 2;

// The file header. Fields we do not interpret are kept in `raw` and written back unchanged.
struct Header {
    std::array<uint8_t, kHeaderSize> raw{};

    uint16_t wVer = 23;
    uint16_t wVerClient = 19;
    Bid bidNextP = 0;
    uint32_t dwUnique = 0;
    std::array<uint32_t, 32> rgnid{};
    Ib ibFileEof = 0;
    Ib ibAMapLast = 0;
    uint64_t cbAMapFree = 0;
    uint64_t cbPMapFree = 0;
    Bref nbt;
    Bref bbt;
    uint8_t fAMapValid = 0;
    Encoding encoding = Encoding::Permute;
    Bid bidNextB = 0;

    // A new file's header (roots and sizes are filled in by the caller).
    static Header New();
    // Parses and checks a header image; throws NdbError naming `path` and the cause (not a
    // PST, ANSI, OST, WIP-encrypted, bad CRC, ...).
    static Header Parse(const std::array<uint8_t, kHeaderSize>& image, const std::string& path);
    // The image with the fields and both CRCs written in.
    std::array<uint8_t, kHeaderSize> Serialize() const;
};

// CRCs as stored and as computed over a header image.
uint32_t HeaderPartialCrc(const uint8_t* image);
uint32_t HeaderFullCrc(const uint8_t* image);

}  // namespace pst::ndb
