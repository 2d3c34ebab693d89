#include "pst/ndb/verify.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "pst/ndb/block.h"
#include "pst/ndb/btree.h"
#include "pst/ndb/bytes.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/file_handle.h"
#include "pst/ndb/header.h"
#include "pst/ndb/page.h"

namespace pst::ndb {
namespace {

constexpr size_t kMaxMessages = 200;
// Map pages that may fail before the rest are taken as missing: an interrupted commit tears at
// most the few it was rewriting, while a header that claims more file than was ever written
// has none past the real end.
constexpr size_t kMaxBadMapPages = 8;

class Verifier {
  public:
    Verifier(const std::filesystem::path& path, VerifyReport& report)
        : path_(path), report_(report) {}

    void Run() {
        try {
            file_ = FileHandle(path_, FileHandle::Access::Read);
        } catch (const NdbError& e) {
            return Error(e.what());
        }
        size_ = file_.size();
        if (size_ < kHeaderSize) return Error("file is too small for a PST file");
        std::array<uint8_t, kHeaderSize> raw{};
        file_.ReadAt(0, raw);
        try {
            header_ = Header::Parse(raw, file_.Path());
        } catch (const NdbError& e) {
            return Error(e.what());
        }
        CheckHeader(raw);
        if (size_ < header_.ibFileEof) return;
        intervals_ = AMapIndexOf(header_.ibFileEof);
        // Nothing below is sized from the header: what is kept grows with the pages and blocks
        // the trees reach, so a header that claims a huge file costs no memory.
        if (!CheckMapPages()) return Finish();
        CheckDList();
        Walk<NbtTraits>(header_.nbt, -1, 0, std::nullopt,
                        [this](const NodeEntry& e) { nodes_.push_back(e); });
        Walk<BbtTraits>(header_.bbt, -1, 0, std::nullopt, [this](const BbtEntry& e) {
            if (!blocks_.emplace(BidKey(e.bid), e).second)
                Error("BBT: block " + Hex(e.bid) + " is listed twice");
        });
        report_.nodes = nodes_.size();
        report_.blocks = blocks_.size();
        CheckBlocks();
        CheckNodes();
        CheckRefCounts();
        CheckOverlaps();
        CheckAllocation();
        Finish();
    }

  private:
    void Error(const std::string& message) { Add(report_.errors, message); }
    void Warning(const std::string& message) { Add(report_.warnings, message); }
    void Add(std::vector<std::string>& list, const std::string& message) {
        if (list.size() < kMaxMessages) {
            list.push_back(message);
        } else {
            ++(&list == &report_.errors ? droppedErrors_ : droppedWarnings_);
        }
    }
    void Finish() {
        // Outlook leaves data in these fields; readers ignore them.
        if (nidUpperSet_ > 0)
            Warning(std::to_string(nidUpperSet_) + " NBT entries have upper NID bytes set");
        if (nbtPaddingSet_ > 0)
            Warning(std::to_string(nbtPaddingSet_) + " NBT entries have dwPadding set");
        if (bbtPaddingSet_ > 0)
            Warning(std::to_string(bbtPaddingSet_) + " BBT entries have dwPadding set");
        if (droppedErrors_ > 0)
            report_.errors.push_back(std::to_string(droppedErrors_) + " more errors");
        if (droppedWarnings_ > 0) {
            report_.warnings.push_back(std::to_string(droppedWarnings_) + " more warnings");
        }
    }

    void CheckHeader(const std::array<uint8_t, kHeaderSize>& raw) {
        if (raw[14] != 1 || raw[15] != 1) Error("header: bPlatformCreate/Access are not 1");
        if (!std::all_of(raw.begin() + 256, raw.begin() + 512,
                         [](uint8_t b) { return b == 0xFF; })) {
            Error("header: rgbFM/rgbFP are not all 0xFF");
        }
        if (Get64(raw.data() + 172) != 0) Error("header: qwUnused is not 0");
        if (Get32(raw.data() + 252) != 0) Error("header: dwAlign is not 0");
        if (Get32(raw.data() + 180) != 0) Warning("header: ROOT dwReserved is not 0");
        if (header_.ibFileEof > size_) {
            Error("header: ibFileEof " + std::to_string(header_.ibFileEof) +
                  " is past the end of the file (" + std::to_string(size_) + " bytes)");
        } else if (header_.ibFileEof < size_) {
            // A transaction grows the file before its header is written; killed in between,
            // the file keeps a tail that nothing of the last commit reaches (every page and
            // block is checked to lie below ibFileEof). Its maps are flagged invalid then, and
            // the next writer cuts the tail off.
            const std::string tail = "the file is " + std::to_string(size_ - header_.ibFileEof) +
                                     " bytes longer than ibFileEof " +
                                     std::to_string(header_.ibFileEof);
            if (header_.fAMapValid == kAMapInvalid) {
                Warning(tail + " (growth of an interrupted commit; not referenced)");
            } else {
                Error("header: " + tail + " although the maps are valid");
            }
        }
        const uint64_t n = AMapIndexOf(header_.ibFileEof);
        if (header_.ibAMapLast != AMapOffset(n - 1)) {
            Error("header: ibAMapLast " + Hex(header_.ibAMapLast) + ", expected " +
                  Hex(AMapOffset(n - 1)));
        }
        if (header_.fAMapValid > 2)
            Error("header: fAMapValid " + std::to_string(header_.fAMapValid));
        if (header_.cbPMapFree != 0) Warning("header: cbPMapFree is not 0");
        if (header_.bidNextB % 4 != 0)
            Error("header: bidNextB " + Hex(header_.bidNextB) + " is not a multiple of 4");
    }

    std::optional<PageImage> ReadPage(Ib ib) {
        if (ib % kPageSize != 0 || ib < kFirstAMapOffset || ib + kPageSize > header_.ibFileEof) {
            Error("page offset " + Hex(ib) + " is not a page inside the file");
            return std::nullopt;
        }
        PageImage page{};
        file_.ReadAt(ib, page);
        return page;
    }

    // Space a page or block takes; overlaps are found once all are known (CheckOverlaps).
    struct Extent {
        Ib from = 0;
        Ib to = 0;
        const char* what = "";
        uint64_t id = 0;  // BID, or 0 for map pages
        bool operator<(const Extent& o) const { return from < o.from; }
    };
    void MarkUsed(Ib ib, uint64_t bytes, const char* what, uint64_t id) {
        extents_.push_back({ib, ib + bytes, what, id});
    }
    static std::string Name(const Extent& e) {
        return std::string(e.what) + (e.id ? " " + Hex(e.id) : std::string()) + " at " +
               Hex(e.from);
    }

    // False when the map pages stop before the end the header claims.
    bool CheckMapPage(PageType type, Ib ib, const char* name) {
        auto page = ReadPage(ib);
        if (!page) return false;
        const std::string problem = CheckPage(*page, type, 0, ib);
        MarkUsed(ib, kPageSize, name, 0);
        if (problem.empty()) return true;
        ++badMapPages_;
        // A commit rewrites the AMaps in place after flagging them invalid; killed in the
        // middle, a page may be torn. The next writer rebuilds them from the trees.
        if (type == kPtypeAMap && header_.fAMapValid == kAMapInvalid) {
            Warning(std::string(name) + " being rewritten when the commit stopped: " + problem);
        } else {
            Error(std::string(name) + ": " + problem);
        }
        if (type == kPtypeAMap) amapsOk_ = false;
        return false;
    }

    bool CheckMapPages() {
        std::optional<uint64_t> firstBad;
        for (uint64_t k = 0; k < intervals_; ++k) {
            Ib next = AMapOffset(k);
            CheckMapPage(kPtypeAMap, next, "AMap");
            if (HasPMap(k)) CheckMapPage(kPtypePMap, next += kPageSize, "PMap");
            if (HasFMap(k)) CheckMapPage(kPtypeFMap, next += kPageSize, "FMap");
            if (HasFPMap(k)) {
                CheckMapPage(kPtypeFPMap, next += kPageSize, "FPMap");
                CheckMapPage(kPtypeFPMap, next + kPageSize, "FPMap copy");
            }
            if (badMapPages_ > 0 && !firstBad) firstBad = k;
            if (badMapPages_ > kMaxBadMapPages) {
                // The cause, ahead of the pages it explains.
                report_.errors.insert(report_.errors.begin(),
                                      "header: ibFileEof " + Hex(header_.ibFileEof) + " claims " +
                                          std::to_string(intervals_) +
                                          " allocation intervals, but the map pages " +
                                          "are missing from interval " + std::to_string(*firstBad) +
                                          " on; not checked further");
                return false;
            }
        }
        return true;
    }

    void CheckDList() {
        PageImage page{};
        file_.ReadAt(kDListOffset, page);
        if (!CheckPage(page, kPtypeDList, 0, kDListOffset).empty()) {
            Warning("DList page is not valid (readers rebuild it)");
            return;
        }
        const uint8_t count = page[1];
        if (count > 119) return Warning("DList: " + std::to_string(count) + " entries");
        for (size_t i = 0; i < count; ++i) {
            const uint32_t e = Get32(page.data() + 8 + 4 * i);
            if ((e & 0xFFFFF) >= intervals_) {
                Warning("DList entry " + std::to_string(i) + " names a missing AMap");
            }
        }
    }

    // Walks one B-tree; `low` is the parent's key for this page, `high` the next one's.
    template <class Traits>
    void Walk(const Bref& ref, int level, uint64_t low, std::optional<uint64_t> high,
              const std::function<void(const typename Traits::Entry&)>& onEntry) {
        const std::string tree = Traits::kType == kPtypeNbt ? "NBT" : "BBT";
        // A page reached twice (a cycle, or two parents sharing a child) is walked once:
        // otherwise shared pages multiply the walk at every level.
        if (!walkedPages_.insert(ref.ib).second) {
            return Error(tree + " page " + Hex(ref.bid) + " at " + Hex(ref.ib) +
                         " is reached twice from the tree");
        }
        auto page = ReadPage(ref.ib);
        if (!page) return;
        const std::string problem = CheckPage(*page, Traits::kType, ref.bid, ref.ib);
        if (!problem.empty()) return Error(tree + " " + problem);
        MarkUsed(ref.ib, kPageSize, Traits::kType == kPtypeNbt ? "NBT page" : "BBT page", ref.bid);
        ++report_.pages;
        maxPageBid_ = std::max(maxPageBid_, ref.bid);
        const BtPageInfo info = ReadBtPageInfo(*page);
        const std::string where = tree + " page " + Hex(ref.bid) + " at " + Hex(ref.ib);
        if (level >= 0 && info.cLevel != level) {
            return Error(where + ": level " + std::to_string(info.cLevel) + ", expected " +
                         std::to_string(level));
        }
        const uint8_t cbEnt = info.cLevel == 0 ? Traits::kEntrySize : kBtEntrySize;
        if (info.cbEnt != cbEnt || info.cEntMax != 488 / cbEnt) {
            return Error(where + ": cbEnt " + std::to_string(info.cbEnt) + " / cEntMax " +
                         std::to_string(info.cEntMax) + " are wrong");
        }
        if (info.cEnt > info.cEntMax) return Error(where + ": cEnt exceeds cEntMax");
        if (info.cEnt == 0 && !(level < 0 && info.cLevel == 0)) Error(where + ": empty page");
        if (info.dwPadding != 0) Warning(where + ": dwPadding is not 0");
        std::optional<uint64_t> previous;
        for (size_t i = 0; i < info.cEnt; ++i) {
            const uint8_t* p = page->data() + i * cbEnt;
            uint64_t key = 0;
            if (info.cLevel == 0) {
                const auto e = Traits::Read(p);
                key = Traits::Key(e);
                if constexpr (Traits::kType == kPtypeNbt) {
                    if (Get32(p + 4) != 0) ++nidUpperSet_;
                    if (Get32(p + 28) != 0) ++nbtPaddingSet_;
                } else {
                    if (Get32(p + 20) != 0) ++bbtPaddingSet_;
                }
                onEntry(e);
            } else {
                key = ReadBtEntry(p, Traits::kNidKeys).key;
            }
            if (previous && key <= *previous) Error(where + ": keys not ascending at " + Hex(key));
            if (key < low || (high && key >= *high)) {
                Error(where + ": key " + Hex(key) + " lies outside its parent's range");
            }
            if (i == 0 && level >= 0 && key != low) {
                Warning(where + ": first key " + Hex(key) + " differs from its parent's key " +
                        Hex(low));
            }
            previous = key;
        }
        if (info.cLevel == 0) return;
        for (size_t i = 0; i < info.cEnt; ++i) {
            const BtChildRef c = ReadBtEntry(page->data() + i * cbEnt, Traits::kNidKeys);
            std::optional<uint64_t> next = high;
            if (i + 1 < info.cEnt) {
                next = ReadBtEntry(page->data() + (i + 1) * cbEnt, Traits::kNidKeys).key;
            }
            Walk<Traits>({c.bid, c.ib}, info.cLevel - 1, c.key, next, onEntry);
        }
    }

    const BbtEntry* Block(Bid bid) const {
        auto it = blocks_.find(BidKey(bid));
        return it == blocks_.end() ? nullptr : &it->second;
    }

    void Reference(Bid bid, const std::string& from) {
        if (bid == 0) return;
        if (!Block(bid)) return Error(from + " refers to missing block " + Hex(bid));
        ++refs_[BidKey(bid)];
    }

    std::optional<std::vector<uint8_t>> ReadBlock(const BbtEntry& e) {
        const std::string where = "block " + Hex(e.bid) + " at " + Hex(e.ib);
        const uint64_t size = BlockDiskSize(e.cb);
        if (e.ib % kSlotSize != 0 || e.ib < kFirstAMapOffset || e.ib + size > header_.ibFileEof) {
            Error(where + ": not inside the file or not 64-byte aligned");
            return std::nullopt;
        }
        if (e.cb > kMaxBlockData) {
            Error(where + ": cb " + std::to_string(e.cb) + " exceeds 8176");
            return std::nullopt;
        }
        if (AMapIndexOf(e.ib) != AMapIndexOf(e.ib + size - 1)) {
            Error(where + ": crosses an allocation interval");
        }
        std::vector<uint8_t> image(size);
        file_.ReadAt(e.ib, image);
        const std::string problem = CheckBlockTrailer(image, e.cb, e.bid, e.ib);
        if (!problem.empty()) {
            Error(problem);
            return std::nullopt;
        }
        image.resize(e.cb);
        return image;
    }

    void CheckBlocks() {
        for (const auto& [key, e] : blocks_) {
            const std::string where = "block " + Hex(e.bid);
            if (key == 0) Error("BBT: an entry has BID 0");
            if (e.bid & 1) Error(where + ": reserved bit 0 is set");
            if (key >= header_.bidNextB)
                Error(where + " is not below bidNextB " + Hex(header_.bidNextB));
            MarkUsed(e.ib, BlockDiskSize(e.cb), "block", e.bid);
            auto bytes = ReadBlock(e);
            if (!bytes || !IsInternalBid(e.bid)) continue;
            try {
                CheckInternal(e, *bytes);
            } catch (const NdbError& ex) {
                Error(ex.what());
            }
        }
    }

    void CheckInternal(const BbtEntry& e, const std::vector<uint8_t>& bytes) {
        const std::string where = "internal block " + Hex(e.bid);
        if (!bytes.empty() && bytes[0] == kBtypeDataTree) {
            const DataTreeBlock x = DecodeDataTreeBlock(bytes, e.bid);
            uint64_t total = 0;
            for (Bid child : x.children) {
                Reference(child, where);
                const BbtEntry* c = Block(child);
                if (!c) continue;
                if (x.level == 1) {
                    if (IsInternalBid(child))
                        Error(where + ": XBLOCK holds internal block " + Hex(child));
                    total += c->cb;
                } else {
                    auto cb = ReadBlock(*c);
                    if (!IsInternalBid(child) || !cb || cb->size() < 8 ||
                        (*cb)[0] != kBtypeDataTree || (*cb)[1] != 1) {
                        Error(where + ": XXBLOCK holds " + Hex(child) + ", which is not an XBLOCK");
                        continue;
                    }
                    total += Get32(cb->data() + 4);
                }
            }
            if (total != x.lcbTotal) {
                Error(where + ": lcbTotal " + std::to_string(x.lcbTotal) + ", children hold " +
                      std::to_string(total));
            }
            return;
        }
        const SubnodeTreeBlock s = DecodeSubnodeTreeBlock(bytes, e.bid);
        std::optional<Nid> previous;
        auto ascending = [&](Nid nid) {
            if (previous && nid <= *previous)
                Error(where + ": subnode NIDs not ascending at " + Hex(nid));
            previous = nid;
        };
        for (const auto& x : s.entries) {
            ascending(x.nid);
            Reference(x.data, where);
            Reference(x.sub, where);
            if (x.sub != 0 && !IsInternalBid(x.sub))
                Error(where + ": sub " + Hex(x.sub) + " is external");
        }
        for (const auto& x : s.index) {
            ascending(x.nid);
            Reference(x.block, where);
            const BbtEntry* c = Block(x.block);
            if (!c) continue;
            auto cb = ReadBlock(*c);
            if (!cb || cb->size() < 8 || (*cb)[0] != kBtypeSubnodeTree || (*cb)[1] != 0) {
                Error(where + ": SIBLOCK holds " + Hex(x.block) + ", which is not an SLBLOCK");
            } else if (Get32(cb->data() + 8) != x.nid) {
                Error(where + ": SIENTRY key " + Hex(x.nid) + " is not its SLBLOCK's first NID");
            }
        }
    }

    void CheckNodes() {
        for (const auto& n : nodes_) {
            const std::string where = "node " + Hex(n.nid);
            if (n.nid == 0) Error("NBT: an entry has NID 0");
            Reference(n.data, where);
            Reference(n.sub, where);
            if (n.sub != 0 && !IsInternalBid(n.sub))
                Error(where + ": sub " + Hex(n.sub) + " is external");
            if (NidIndexOf(n.nid) > header_.rgnid[NidTypeOf(n.nid)]) {
                Warning(where + ": index above rgnid[" + std::to_string(NidTypeOf(n.nid)) + "]");
            }
        }
    }

    void CheckRefCounts() {
        for (const auto& [key, e] : blocks_) {
            const auto it = refs_.find(key);
            const uint64_t refs = it == refs_.end() ? 0 : it->second;
            if (refs == 0) Warning("block " + Hex(e.bid) + " is not referenced");
            if (e.cRef != refs + 1) {
                Error("block " + Hex(e.bid) + ": cRef " + std::to_string(e.cRef) + ", but " +
                      std::to_string(refs) + " references");
            }
        }
        if (maxPageBid_ >= header_.bidNextP) {
            Error("page BID " + Hex(maxPageBid_) + " is not below bidNextP " +
                  Hex(header_.bidNextP));
        }
    }

    void CheckOverlaps() {
        std::sort(extents_.begin(), extents_.end());
        size_t reported = 0;
        Ib reach = 0;
        const Extent* reacher = nullptr;
        for (const Extent& e : extents_) {
            if (reacher && e.from < reach && reported++ < 10)
                Error(Name(e) + " overlaps other data (" + Name(*reacher) + ")");
            if (e.to > reach) {
                reach = e.to;
                reacher = &e;
            }
        }
        if (reported > 10) Error(std::to_string(reported) + " overlaps in all");
    }

    // The AMap bits against the space the trees reach, one interval at a time.
    void CheckAllocation() {
        if (header_.fAMapValid == kAMapInvalid) {
            Warning("allocation maps are flagged invalid (interrupted commit); not compared");
            return;
        }
        if (!amapsOk_) return;  // reported already
        uint64_t freeSlots = 0;
        size_t unmarked = 0;
        size_t stray = 0;
        size_t next = 0;  // first extent that may reach into the interval
        for (uint64_t k = 0; k < intervals_; ++k) {
            const Ib base = AMapOffset(k);
            const Ib end = base + kAMapInterval;
            std::array<uint8_t, kAMapBitmapBytes> used{};
            while (next < extents_.size() && extents_[next].to <= base) ++next;
            for (size_t i = next; i < extents_.size() && extents_[i].from < end; ++i) {
                const Ib from = std::max(extents_[i].from, base);
                const Ib to = std::min(extents_[i].to, end);
                if (to <= from) continue;  // ends before this interval (sorted by start only)
                for (uint64_t s = (from - base) / kSlotSize;
                     s < (to - base + kSlotSize - 1) / kSlotSize; ++s)
                    used[s / 8] = static_cast<uint8_t>(used[s / 8] | (0x80u >> (s % 8)));
            }
            PageImage page{};
            file_.ReadAt(base, page);
            for (uint64_t s = 0; s < kSlotsPerAMap; ++s) {
                const uint8_t bit = static_cast<uint8_t>(0x80u >> (s % 8));
                const bool marked = (page[s / 8] & bit) != 0;
                const bool inUse = (used[s / 8] & bit) != 0;
                if (!marked) ++freeSlots;
                if (inUse && !marked && unmarked++ < 10) {
                    Error("AMap: " + Hex(base + s * kSlotSize) + " is in use but not marked");
                }
                if (!inUse && marked && stray++ < 10) {
                    Error("AMap: " + Hex(base + s * kSlotSize) + " is marked but holds nothing");
                }
            }
        }
        if (unmarked > 10)
            Error("AMap: " + std::to_string(unmarked) + " used slots not marked in all");
        if (stray > 10) Error("AMap: " + std::to_string(stray) + " stray marked slots in all");
        if (freeSlots * kSlotSize != header_.cbAMapFree) {
            Error("header: cbAMapFree " + std::to_string(header_.cbAMapFree) + ", the maps hold " +
                  std::to_string(freeSlots * kSlotSize) + " free bytes");
        }
    }

    std::filesystem::path path_;
    VerifyReport& report_;
    FileHandle file_;
    uint64_t size_ = 0;
    Header header_;
    uint64_t intervals_ = 0;
    std::vector<Extent> extents_;
    std::set<Ib> walkedPages_;
    size_t badMapPages_ = 0;
    bool amapsOk_ = true;
    std::vector<NodeEntry> nodes_;
    std::map<Bid, BbtEntry> blocks_;
    std::map<Bid, uint64_t> refs_;
    Bid maxPageBid_ = 0;
    size_t nidUpperSet_ = 0;
    size_t nbtPaddingSet_ = 0;
    size_t bbtPaddingSet_ = 0;
    size_t droppedErrors_ = 0;
    size_t droppedWarnings_ = 0;
};

}  // namespace

VerifyReport VerifyFileReport(const std::filesystem::path& path) {
    VerifyReport report;
    try {
        Verifier(path, report).Run();
    } catch (const NdbError& e) {
        report.errors.push_back(e.what());
    }
    return report;
}

std::vector<std::string> VerifyFile(const std::filesystem::path& path) {
    return VerifyFileReport(path).errors;
}

}  // namespace pst::ndb
