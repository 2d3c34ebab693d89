#include "pst/ndb/header.h"

#include <algorithm>

#include "pst/ndb/bytes.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/errors.h"

namespace pst::ndb {

namespace {

constexpr uint8_t kMagic[4] = {0x21, 0x42, 0x44, 0x4E};  // "!BDN"
constexpr uint8_t kMagicClient[2] = {0x53, 0x4D};        // "SM"

}  // namespace

uint32_t HeaderPartialCrc(const uint8_t* image) {
    return Crc({image + 8, 471});
}
uint32_t HeaderFullCrc(const uint8_t* image) {
    return Crc({image + 8, 516});
}

Header Header::New() {
    Header h;
    std::copy(std::begin(kMagic), std::end(kMagic), h.raw.begin());
    std::copy(std::begin(kMagicClient), std::end(kMagicClient), h.raw.begin() + 8);
    h.raw[14] = 0x01;                                           // bPlatformCreate
    h.raw[15] = 0x01;                                           // bPlatformAccess
    std::fill(h.raw.begin() + 256, h.raw.begin() + 512, 0xFF);  // rgbFM, rgbFP
    h.raw[512] = 0x80;                                          // bSentinel
    h.rgnid.fill(0x400);
    h.rgnid[kNidTypeSearchFolder] = 0x4000;
    h.rgnid[kNidTypeNormalMessage] = 0x10000;
    h.rgnid[kNidTypeAssocMessage] = 0x8000;
    h.bidNextB = 4;
    h.bidNextP = 1;
    h.dwUnique = 1;
    h.fAMapValid = kAMapValid;
    return h;
}

Header Header::Parse(const std::array<uint8_t, kHeaderSize>& image, const std::string& path) {
    const uint8_t* p = image.data();
    if (!std::equal(std::begin(kMagic), std::end(kMagic), p) ||
        !std::equal(std::begin(kMagicClient), std::end(kMagicClient), p + 8)) {
        throw NdbError(path + ": not a PST file (no \"!BDN\"/\"SM\" signature)",
                       NdbError::Cause::NotPst);
    }
    Header h;
    h.raw = image;
    h.wVer = Get16(p + 10);
    if (h.wVer == 14 || h.wVer == 15) {
        throw NdbError(path + ": ANSI PST file (version " + std::to_string(h.wVer) +
                           "); only Unicode PST files are supported",
                       NdbError::Cause::Ansi);
    }
    if (h.wVer == 36) {
        throw NdbError(path + ": offline store file with 4 KB pages (version 36) is not supported",
                       NdbError::Cause::Unsupported);
    }
    if (h.wVer == 37) {
        throw NdbError(
            path + ": PST file with WIP encryption support (version 37) is not supported",
            NdbError::Cause::Unsupported);
    }
    if (h.wVer != 23) {
        throw NdbError(path + ": unknown PST version " + std::to_string(h.wVer),
                       NdbError::Cause::Unsupported);
    }
    const uint32_t storedPartial = Get32(p + 4);
    const uint32_t storedFull = Get32(p + 524);
    if (storedPartial != HeaderPartialCrc(p)) {
        throw NdbError(path + ": damaged header (partial CRC stored " + Hex(storedPartial) +
                           ", computed " + Hex(HeaderPartialCrc(p)) + ")",
                       NdbError::Cause::Damaged);
    }
    if (storedFull != HeaderFullCrc(p)) {
        throw NdbError(path + ": damaged header (full CRC stored " + Hex(storedFull) +
                           ", computed " + Hex(HeaderFullCrc(p)) + ")",
                       NdbError::Cause::Damaged);
    }
    const uint8_t crypt = p[513];
    if (crypt == 0x10) {
        throw NdbError(path + ": PST file with WIP encryption (bCryptMethod 0x10) is not supported",
                       NdbError::Cause::Unsupported);
    }
    if (crypt > 2) {
        throw NdbError(path + ": unknown data encoding (bCryptMethod " + Hex(crypt) + ")",
                       NdbError::Cause::Unsupported);
    }
    if (p[512] != 0x80) {
        throw NdbError(path + ": damaged header (bSentinel " + Hex(p[512]) + ", expected 0x80)",
                       NdbError::Cause::Damaged);
    }
    h.encoding = static_cast<Encoding>(crypt);
    h.wVerClient = Get16(p + 12);
    h.bidNextP = Get64(p + 32);
    h.dwUnique = Get32(p + 40);
    for (size_t i = 0; i < 32; ++i) h.rgnid[i] = Get32(p + 44 + 4 * i);
    h.ibFileEof = Get64(p + 184);
    h.ibAMapLast = Get64(p + 192);
    h.cbAMapFree = Get64(p + 200);
    h.cbPMapFree = Get64(p + 208);
    h.nbt = {Get64(p + 216), Get64(p + 224)};
    h.bbt = {Get64(p + 232), Get64(p + 240)};
    h.fAMapValid = p[248];
    h.bidNextB = Get64(p + 516);
    if (h.ibFileEof < FileEofFor(1) || (h.ibFileEof - kFirstAMapOffset) % kAMapInterval != 0) {
        throw NdbError(path + ": damaged header (ibFileEof " + Hex(h.ibFileEof) +
                           " is not at the end of an allocation interval)",
                       NdbError::Cause::Damaged);
    }
    return h;
}

std::array<uint8_t, kHeaderSize> Header::Serialize() const {
    std::array<uint8_t, kHeaderSize> out = raw;
    uint8_t* p = out.data();
    Put16(p + 10, wVer);
    Put16(p + 12, wVerClient);
    Put64(p + 32, bidNextP);
    Put32(p + 40, dwUnique);
    for (size_t i = 0; i < 32; ++i) Put32(p + 44 + 4 * i, rgnid[i]);
    Put64(p + 184, ibFileEof);
    Put64(p + 192, ibAMapLast);
    Put64(p + 200, cbAMapFree);
    Put64(p + 208, cbPMapFree);
    Put64(p + 216, nbt.bid);
    Put64(p + 224, nbt.ib);
    Put64(p + 232, bbt.bid);
    Put64(p + 240, bbt.ib);
    p[248] = fAMapValid;
    p[513] = static_cast<uint8_t>(encoding);
    Put64(p + 516, bidNextB);
    Put32(p + 4, HeaderPartialCrc(p));
    Put32(p + 524, HeaderFullCrc(p));
    return out;
}

}  // namespace pst::ndb
