#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

using PageImage = std::array<uint8_t, kPageSize>;

// Writes the PAGETRAILER: map pages carry bid = ib and no signature, the others a signature.
void SealPage(PageImage& page, PageType type, uint64_t bid, Ib ib);

// Checks a page's trailer; returns an empty string when sound, else what is wrong.
// `expectedBid` 0 skips the BID comparison, except for B-tree pages, where it is a fault.
std::string CheckPage(const PageImage& page, PageType type, uint64_t expectedBid, Ib ib);

// Map pages as a new file holds them.
PageImage MakeAMapPage(Ib ib, const uint8_t* bitmap /*496 bytes*/);
PageImage MakeFilledMapPage(PageType type, Ib ib);  // PMap, FMap, FPMap: all 0xFF
PageImage MakeEmptyDListPage(Bid bid);

// One BTENTRY of an intermediate B-tree page.
struct BtChildRef {
    uint64_t key = 0;
    Bid bid = 0;
    Ib ib = 0;
};

// The layout of a BTPAGE: entries, then cEnt, cEntMax, cbEnt, cLevel.
struct BtPageInfo {
    uint8_t cEnt = 0;
    uint8_t cEntMax = 0;
    uint8_t cbEnt = 0;
    uint8_t cLevel = 0;
    uint32_t dwPadding = 0;
};
BtPageInfo ReadBtPageInfo(const PageImage& page);
void WriteBtPageInfo(PageImage& page, const BtPageInfo& info);

constexpr uint8_t kBtEntrySize = 24;
constexpr uint8_t kBtEntryMax = 20;
BtChildRef ReadBtEntry(const uint8_t* p, bool nidKeys);
void WriteBtEntry(uint8_t* p, const BtChildRef& e);

}  // namespace pst::ndb
