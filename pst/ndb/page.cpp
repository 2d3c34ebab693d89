#include "pst/ndb/page.h"

#include <algorithm>

#include "pst/ndb/bytes.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/errors.h"

namespace pst::ndb {
namespace {

constexpr size_t kTrailer = kPageSize - kPageTrailerSize;  // 496

bool IsMapPage(PageType type) {
    return type == kPtypeAMap || type == kPtypePMap || type == kPtypeFMap || type == kPtypeFPMap;
}

}  // namespace

void SealPage(PageImage& page, PageType type, uint64_t bid, Ib ib) {
    uint8_t* t = page.data() + kTrailer;
    t[0] = type;
    t[1] = type;
    Put16(t + 2, IsMapPage(type) ? 0 : Signature(ib, bid));
    Put32(t + 4, Crc({page.data(), kTrailer}));
    Put64(t + 8, bid);
}

std::string CheckPage(const PageImage& page, PageType type, uint64_t expectedBid, Ib ib) {
    const uint8_t* t = page.data() + kTrailer;
    const std::string where = "page at " + Hex(ib);
    if (t[0] != type || t[1] != type) {
        return where + ": page type " + Hex(t[0]) + "/" + Hex(t[1]) + ", expected " + Hex(type);
    }
    const uint32_t crc = Crc({page.data(), kTrailer});
    if (Get32(t + 4) != crc) {
        return where + ": CRC stored " + Hex(Get32(t + 4)) + ", computed " + Hex(crc);
    }
    const uint64_t bid = Get64(t + 8);
    if (IsMapPage(type)) {
        if (bid != ib) return where + ": map page BID " + Hex(bid) + " is not its offset";
        if (Get16(t + 2) != 0) return where + ": map page signature is not 0";
    } else {
        // B-tree pages are always reached through a BREF, and BID 0 names nothing.
        if ((type == kPtypeNbt || type == kPtypeBbt) && (expectedBid == 0 || bid == 0)) {
            return where + ": B-tree page referenced with BID 0";
        }
        if (expectedBid != 0 && bid != expectedBid) {
            return where + ": BID " + Hex(bid) + ", expected " + Hex(expectedBid);
        }
        if (Get16(t + 2) != Signature(ib, bid)) {
            return where + ": signature " + Hex(Get16(t + 2)) + ", expected " +
                   Hex(Signature(ib, bid));
        }
    }
    return {};
}

PageImage MakeAMapPage(Ib ib, const uint8_t* bitmap) {
    PageImage page{};
    std::copy(bitmap, bitmap + kAMapBitmapBytes, page.begin());
    SealPage(page, kPtypeAMap, ib, ib);
    return page;
}

PageImage MakeFilledMapPage(PageType type, Ib ib) {
    PageImage page{};
    std::fill(page.begin(), page.begin() + kTrailer, 0xFF);
    SealPage(page, type, ib, ib);
    return page;
}

// bFlags 0, no entries: the density list is only a hint, and readers rebuild it.
PageImage MakeEmptyDListPage(Bid bid) {
    PageImage page{};
    SealPage(page, kPtypeDList, bid, kDListOffset);
    return page;
}

BtPageInfo ReadBtPageInfo(const PageImage& page) {
    const uint8_t* p = page.data() + 488;
    return {p[0], p[1], p[2], p[3], Get32(p + 4)};
}

void WriteBtPageInfo(PageImage& page, const BtPageInfo& info) {
    uint8_t* p = page.data() + 488;
    p[0] = info.cEnt;
    p[1] = info.cEntMax;
    p[2] = info.cbEnt;
    p[3] = info.cLevel;
    Put32(p + 4, info.dwPadding);
}

BtChildRef ReadBtEntry(const uint8_t* p, bool nidKeys) {
    const uint64_t key = Get64(p);
    return {nidKeys ? (key & 0xFFFFFFFFu) : BidKey(key), Get64(p + 8), Get64(p + 16)};
}

void WriteBtEntry(uint8_t* p, const BtChildRef& e) {
    Put64(p, e.key);
    Put64(p + 8, e.bid);
    Put64(p + 16, e.ib);
}

}  // namespace pst::ndb
