#include "pst/ndb/pst_file.h"

#include <algorithm>
#include <cstring>

#include "pst/ndb/block.h"
#include "pst/ndb/errors.h"

namespace pst::ndb {
namespace {

constexpr uint64_t kMaxDataTreeBytes = 0xFFFFFFFFull;  // lcbTotal is 32 bits
// AMap pages that may be unreadable before the header's ibFileEof is taken as a false claim:
// an interrupted commit tears at most the few it was rewriting.
constexpr uint64_t kMaxBadAMaps = 8;

}  // namespace

PstFile::PstFile(FileHandle file, bool writable) : file_(std::move(file)), writable_(writable) {}

PstFile::~PstFile() {
    // An abandoned transaction has touched nothing the last commit reaches; put the header
    // back so the file needs no repair.
    if (!writable_ || !inTransaction_ || mapsTouched_) return;
    try {
        if (file_.size() > committed_.ibFileEof) file_.Truncate(committed_.ibFileEof);
        Header h = committed_;
        h.fAMapValid = kAMapValid;
        h.dwUnique = committed_.dwUnique + 1;
        WriteHeader(h);
        file_.Sync();
    } catch (const NdbError&) {
        // Left flagged: the next open for writing repairs the maps.
    }
}

std::unique_ptr<PstFile> PstFile::Create(const std::filesystem::path& path) {
    return Create(path, Encoding::Permute);
}

std::unique_ptr<PstFile> PstFile::Create(const std::filesystem::path& path, Encoding encoding) {
    FileHandle fh(path, FileHandle::Access::Create);
    if (fh.size() != 0) throw NdbError(fh.Path() + " already exists and is not empty");
    std::unique_ptr<PstFile> f(new PstFile(std::move(fh), true));
    f->header_ = Header::New();
    f->header_.encoding = encoding;
    f->committed_ = f->header_;
    f->committed_.fAMapValid = kAMapInvalid;
    f->file_.Truncate(FileEofFor(1));
    f->amap_.Reset(1);
    f->committedIntervals_ = 0;
    auto nbtReader = [p = f.get()](const Bref& r) { return p->ReadPage(r, kPtypeNbt); };
    auto bbtReader = [p = f.get()](const Bref& r) { return p->ReadPage(r, kPtypeBbt); };
    f->nbt_.CreateEmpty(nbtReader);
    f->bbt_.CreateEmpty(bbtReader);
    f->changed_ = true;
    f->Commit();
    return f;
}

std::unique_ptr<PstFile> PstFile::Open(const std::filesystem::path& path, Mode mode) {
    const bool writable = mode == Mode::ReadWrite;
    FileHandle fh(path, writable ? FileHandle::Access::ReadWrite : FileHandle::Access::Read);
    std::unique_ptr<PstFile> f(new PstFile(std::move(fh), writable));
    const uint64_t size = f->file_.size();
    if (size < kHeaderSize) {
        throw NdbError(
            f->Path() + ": not a PST file (" + std::to_string(size) + " bytes, too small for one)",
            NdbError::Cause::NotPst);
    }
    std::array<uint8_t, kHeaderSize> raw{};
    f->file_.ReadAt(0, raw);
    f->header_ = Header::Parse(raw, f->Path());
    f->header_.bidNextB = (f->header_.bidNextB + 3) & ~Bid{3};  // new BIDs keep bits 0-1 free
    f->committed_ = f->header_;
    if (size < f->header_.ibFileEof) {
        throw NdbError(f->Path() + ": file is truncated (" + std::to_string(size) +
                           " bytes, the header says " + std::to_string(f->header_.ibFileEof) + ")",
                       NdbError::Cause::Damaged);
    }
    f->LoadTrees();
    if (writable) {
        if (f->header_.fAMapValid == kAMapInvalid) {
            f->RebuildMaps();
        } else {
            f->LoadMaps();
        }
    }
    return f;
}

std::unique_ptr<PstFile> PstFile::CreateOrOpen(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) return Create(path);
    return Open(path, Mode::ReadWrite);
}

void PstFile::LoadTrees() {
    nbt_.Open(header_.nbt, [this](const Bref& r) { return ReadPage(r, kPtypeNbt); });
    bbt_.Open(header_.bbt, [this](const Bref& r) { return ReadPage(r, kPtypeBbt); });
}

void PstFile::LoadMaps() {
    const uint64_t n = AMapIndexOf(header_.ibFileEof);
    amap_.Reset(0);
    for (uint64_t k = 0; k < n; ++k) {
        PageImage page{};
        file_.ReadAt(AMapOffset(k), page);
        if (!CheckPage(page, kPtypeAMap, 0, AMapOffset(k)).empty()) {
            // A damaged map is only a hint lost: rebuild all of them from the trees.
            RebuildMaps();
            return;
        }
        AllocationMap::Bitmap bits{};
        std::copy(page.begin(), page.begin() + kAMapBitmapBytes, bits.begin());
        amap_.Append(bits);
    }
    amap_.TakeDirty();
    committedIntervals_ = n;
}

// Every interval up to ibFileEof was given its map pages when the file grew to it. A header
// that claims more file than was written (a sparse tail, a damaged ibFileEof) has none there:
// refused before anything is sized from the claim.
void PstFile::RequireMapPages(uint64_t intervals) const {
    uint64_t bad = 0;
    uint64_t firstBad = 0;
    for (uint64_t k = 0; k < intervals; ++k) {
        PageImage page{};
        file_.ReadAt(AMapOffset(k), page);
        if (CheckPage(page, kPtypeAMap, 0, AMapOffset(k)).empty()) continue;
        if (bad++ == 0) firstBad = k;
        if (bad > kMaxBadAMaps) {
            throw NdbError(Path() + ": the header claims " + std::to_string(header_.ibFileEof) +
                               " bytes, but the allocation maps are missing from interval " +
                               std::to_string(firstBad) + " of " + std::to_string(intervals) +
                               " on",
                           NdbError::Cause::Damaged);
        }
    }
}

void PstFile::RebuildMaps() {
    const uint64_t n = AMapIndexOf(header_.ibFileEof);
    RequireMapPages(n);
    amap_.Reset(n);
    auto mark = [this](Ib ib, uint64_t size, const char* what) {
        if (ib % kSlotSize != 0 || !amap_.MarkUsed(ib, size)) {
            throw NdbError(Path() + ": cannot repair the allocation maps: " + what + " at " +
                               Hex(ib) + " overlaps other data",
                           NdbError::Cause::Damaged);
        }
    };
    nbt_.ForEachPage([&](const Bref& r, uint8_t) { mark(r.ib, kPageSize, "NBT page"); },
                     [](const NodeEntry&) {});
    bbt_.ForEachPage([&](const Bref& r, uint8_t) { mark(r.ib, kPageSize, "BBT page"); },
                     [&](const BbtEntry& e) { mark(e.ib, BlockDiskSize(e.cb), "block"); });
    if (file_.size() > header_.ibFileEof) file_.Truncate(header_.ibFileEof);
    for (uint64_t k = 0; k < n; ++k) WriteMapPages(k, false);
    amap_.TakeDirty();
    header_.cbAMapFree = amap_.FreeBytes();
    header_.ibAMapLast = AMapOffset(n - 1);
    header_.fAMapValid = kAMapValid;
    header_.dwUnique = committed_.dwUnique + 1;
    file_.Sync();
    WriteHeader(header_);
    file_.Sync();
    committed_ = header_;
    committedIntervals_ = n;
    recovered_ = true;
}

void PstFile::WriteMapPages(uint64_t k, bool fresh) {
    const Ib base = AMapOffset(k);
    file_.WriteAt(base, MakeAMapPage(base, amap_.GetBitmap(k).data()));
    if (!fresh) return;
    Ib next = base + kPageSize;
    if (HasPMap(k)) {
        file_.WriteAt(next, MakeFilledMapPage(kPtypePMap, next));
        next += kPageSize;
    }
    if (HasFMap(k)) {
        file_.WriteAt(next, MakeFilledMapPage(kPtypeFMap, next));
        next += kPageSize;
    }
    if (HasFPMap(k)) {
        file_.WriteAt(next, MakeFilledMapPage(kPtypeFPMap, next));
        file_.WriteAt(next + kPageSize, MakeFilledMapPage(kPtypeFPMap, next + kPageSize));
    }
}

// Reads may reach space added by this transaction's growth.
uint64_t PstFile::ReadLimit() const {
    return std::max(header_.ibFileEof, FileEofFor(amap_.Intervals()));
}

void PstFile::WriteHeader(const Header& header) {
    file_.WriteAt(0, header.Serialize());
}

void PstFile::RequireWritable(const char* operation) const {
    if (!writable_) throw NdbError(Path() + " is open read-only (" + operation + ")");
}

// The first write of a transaction flags the maps invalid, so that a crash before the commit
// completes makes the next writer rebuild them.
void PstFile::BeginWrite() {
    if (inTransaction_) return;
    Header h = committed_;
    h.fAMapValid = kAMapInvalid;
    h.dwUnique = committed_.dwUnique + 1;
    WriteHeader(h);
    file_.Sync();
    committed_ = h;
    header_.dwUnique = h.dwUnique;
    inTransaction_ = true;
}

Bid PstFile::NextBid(bool internal) {
    const Bid bid = header_.bidNextB;
    header_.bidNextB += 4;
    return internal ? bid | 2 : bid;
}

Ib PstFile::Allocate(uint64_t bytes, bool pageAligned) {
    if (auto ib = amap_.Allocate(bytes, pageAligned)) return *ib;
    amap_.Grow();
    if (auto ib = amap_.Allocate(bytes, pageAligned)) return *ib;
    throw NdbError(Path() + ": no room for " + std::to_string(bytes) + " bytes after growing");
}

Bid PstFile::WriteRawBlock(std::span<const uint8_t> bytes, bool internal) {
    if (bytes.size() > kMaxBlockData) {
        throw NdbError(Path() + ": a block holds at most 8176 bytes, not " +
                       std::to_string(bytes.size()));
    }
    BeginWrite();
    const Bid bid = NextBid(internal);
    // The disk image is made where it is written from: the file's write buffer. Data, zero
    // padding, then encoded in place and sealed with its trailer.
    const auto cb = static_cast<uint16_t>(bytes.size());
    const uint64_t size = BlockDiskSize(cb);
    const Ib ib = Allocate(size, false);
    const std::span<uint8_t> image = file_.PlaceWrite(ib, size);
    if (cb > 0) std::memcpy(image.data(), bytes.data(), cb);
    std::memset(image.data() + cb, 0, size - cb - kBlockTrailerSize);
    if (!internal) EncodeData(header_.encoding, bid, image.first(cb));
    SealBlockImage(image, cb, bid, ib);
    bbt_.Put({bid, ib, cb, 1});
    newBlocks_.Add(bid);
    changed_ = true;
    return bid;
}

PageImage PstFile::ReadPage(const Bref& ref, PageType type) const {
    const uint64_t limit = ReadLimit();
    if (ref.ib % kPageSize != 0 || ref.ib < kFirstAMapOffset || ref.ib + kPageSize > limit) {
        throw NdbError(
            Path() + ": B-tree page " + Hex(ref.bid) + " has a bad offset " + Hex(ref.ib),
            NdbError::Cause::Damaged);
    }
    PageImage page{};
    file_.ReadAt(ref.ib, page);
    const std::string problem = CheckPage(page, type, ref.bid, ref.ib);
    if (!problem.empty()) throw NdbError(Path() + ": " + problem, NdbError::Cause::Damaged);
    return page;
}

BbtEntry PstFile::BlockEntry(Bid bid, const char* context) const {
    auto e = FindBlock(bid);
    if (!e) {
        throw NdbError(Path() + ": " + context + ": block " + Hex(bid) + " is not in the BBT",
                       NdbError::Cause::Damaged);
    }
    return *e;
}

std::vector<uint8_t> PstFile::ReadBlockData(Bid bid) const {
    const BbtEntry e = BlockEntry(bid, "read");
    const uint64_t limit = ReadLimit();
    const uint64_t size = BlockDiskSize(e.cb);
    if (e.ib % kSlotSize != 0 || e.ib < kFirstAMapOffset || e.ib + size > limit ||
        e.cb > kMaxBlockData) {
        throw NdbError(Path() + ": block " + Hex(bid) + " has a bad place " + Hex(e.ib) +
                           " or size " + std::to_string(e.cb),
                       NdbError::Cause::Damaged);
    }
    std::vector<uint8_t> image(size);
    file_.ReadAt(e.ib, image);
    const std::string problem = CheckBlockTrailer(image, e.cb, e.bid, e.ib);
    if (!problem.empty()) throw NdbError(Path() + ": " + problem, NdbError::Cause::Damaged);
    image.resize(e.cb);
    if (!IsInternalBid(e.bid)) DecodeData(header_.encoding, e.bid, image);
    return image;
}

// --- reading ---

std::optional<NodeEntry> PstFile::FindNode(Nid nid) const {
    return nbt_.Find(nid);
}

std::optional<BbtEntry> PstFile::FindBlock(Bid bid) const {
    auto e = bbt_.Find(BidKey(bid));
    if (e) {
        if (auto d = refDelta_.find(BidKey(bid)); d != refDelta_.end()) {
            e->cRef = static_cast<uint16_t>(e->cRef + d->second);
        }
    }
    return e;
}

void PstFile::ForEachNode(const std::function<void(const NodeEntry&)>& fn) const {
    nbt_.ForEach(fn);
}

std::vector<uint8_t> PstFile::ReadBlock(Bid bid) const {
    if (IsInternalBid(bid)) {
        throw NdbError(Path() + ": readBlock: " + Hex(bid) + " is an internal block");
    }
    return ReadBlockData(bid);
}

std::vector<Bid> PstFile::DataBlocks(Bid data) const {
    if (data == 0) return {};
    if (!IsInternalBid(data)) {
        BlockEntry(data, "dataBlocks");
        return {data};
    }
    const DataTreeBlock top = DecodeDataTreeBlock(ReadBlockData(data), data);
    if (top.level == 1) return top.children;
    std::vector<Bid> leaves;
    for (Bid x : top.children) {
        const DataTreeBlock mid = DecodeDataTreeBlock(ReadBlockData(x), x);
        if (mid.level != 1) {
            throw NdbError(Path() + ": XXBLOCK " + Hex(data) + " holds a non-XBLOCK " + Hex(x),
                           NdbError::Cause::Damaged);
        }
        leaves.insert(leaves.end(), mid.children.begin(), mid.children.end());
    }
    return leaves;
}

uint64_t PstFile::StreamSize(Bid data) const {
    if (data == 0) return 0;
    if (!IsInternalBid(data)) return BlockEntry(data, "streamSize").cb;
    return DecodeDataTreeBlock(ReadBlockData(data), data).lcbTotal;
}

std::vector<uint8_t> PstFile::ReadStream(Bid data) const {
    std::vector<uint8_t> out;
    const uint64_t expected = StreamSize(data);
    const std::vector<Bid> leaves = DataBlocks(data);
    // The total is only a claim until the leaves are read.
    out.reserve(std::min<uint64_t>(expected, leaves.size() * kMaxBlockData));
    for (Bid leaf : leaves) {
        if (IsInternalBid(leaf)) {
            throw NdbError(
                Path() + ": data tree " + Hex(data) + " has an internal leaf " + Hex(leaf),
                NdbError::Cause::Damaged);
        }
        const auto bytes = ReadBlockData(leaf);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() != expected) {
        throw NdbError(Path() + ": data tree " + Hex(data) + " holds " +
                           std::to_string(out.size()) + " bytes, its total says " +
                           std::to_string(expected),
                       NdbError::Cause::Damaged);
    }
    return out;
}

SubnodeMap PstFile::ReadSubnodes(Bid sub) const {
    SubnodeMap map;
    if (sub == 0) return map;
    if (!IsInternalBid(sub)) {
        throw NdbError(Path() + ": subnode tree " + Hex(sub) + " is not an internal block",
                       NdbError::Cause::Damaged);
    }
    const SubnodeTreeBlock top = DecodeSubnodeTreeBlock(ReadBlockData(sub), sub);
    auto add = [&map](const SubnodeTreeBlock& leaf) {
        for (const auto& e : leaf.entries) map[e.nid] = {e.data, e.sub};
    };
    if (top.level == 0) {
        add(top);
        return map;
    }
    for (const auto& ix : top.index) {
        const SubnodeTreeBlock leaf = DecodeSubnodeTreeBlock(ReadBlockData(ix.block), ix.block);
        if (leaf.level != 0) {
            throw NdbError(
                Path() + ": SIBLOCK " + Hex(sub) + " holds a non-SLBLOCK " + Hex(ix.block),
                NdbError::Cause::Damaged);
        }
        add(leaf);
    }
    return map;
}

// --- writing ---

Bid PstFile::WriteBlock(std::span<const uint8_t> data) {
    RequireWritable("writeBlock");
    return WriteRawBlock(data, false);
}

Bid PstFile::WriteDataTree(std::span<const Bid> leaves) {
    RequireWritable("writeDataTree");
    if (leaves.empty()) return 0;
    for (Bid leaf : leaves) {
        if (IsInternalBid(leaf)) {
            throw NdbError(Path() + ": writeDataTree: leaf " + Hex(leaf) + " is internal");
        }
    }
    if (leaves.size() == 1) {
        BlockEntry(leaves[0], "writeDataTree");
        return leaves[0];
    }
    if (leaves.size() > kMaxXBlockEntries * kMaxXBlockEntries) {
        throw NdbError(Path() + ": writeDataTree: " + std::to_string(leaves.size()) +
                       " blocks exceed what one data tree holds (4 GiB)");
    }
    auto xblock = [&](size_t first, size_t count) {
        return WriteXBlock(leaves.subspan(first, count));
    };
    if (leaves.size() <= kMaxXBlockEntries) {
        // A lone XBLOCK is the stream's root: the caller's reference goes to it directly.
        auto [bid, total] = xblock(0, leaves.size());
        (void)total;
        return bid;
    }
    DataTreeBlock xx{2, 0, {}};
    uint64_t total = 0;
    for (size_t first = 0; first < leaves.size(); first += kMaxXBlockEntries) {
        auto [bid, bytes] =
            xblock(first, std::min<size_t>(kMaxXBlockEntries, leaves.size() - first));
        xx.children.push_back(bid);
        total += bytes;
    }
    if (total > kMaxDataTreeBytes) {
        throw NdbError(Path() + ": writeDataTree: a stream of " + std::to_string(total) +
                       " bytes in " + std::to_string(leaves.size()) +
                       " blocks exceeds what one data tree holds (4 GiB)");
    }
    xx.lcbTotal = static_cast<uint32_t>(total);
    const Bid bid = WriteRawBlock(EncodeDataTreeBlock(xx), true);
    for (Bid x : xx.children) AddRef(x, "writeDataTree");
    return bid;
}

// An XBLOCK over the same leaves as a remembered one is kept; the XXBLOCK (or the caller, for
// a lone XBLOCK) adds the reference to it, as to a new one. A changed XBLOCK is written anew,
// but the leaves it shares with the remembered one at its front need no BBT lookups: their
// sizes are known, and they exist because the remembered XBLOCK still refers to them.
std::pair<Bid, uint64_t> PstFile::WriteXBlock(std::span<const Bid> chunk) {
    XBlockMemo* prior = nullptr;
    if (auto m = xblocks_.find(BidKey(chunk.front())); m != xblocks_.end()) {
        if (bbt_.Find(BidKey(m->second.xblock))) {
            prior = &m->second;
        } else {
            xblocks_.erase(m);
        }
    }
    if (prior && prior->children.size() == chunk.size() &&
        std::equal(chunk.begin(), chunk.end(), prior->children.begin())) {
        XBlockMemo& kept = xblocks_[BidKey(chunk.front())];
        kept.used = ++memoClock_;
        memoAges_.emplace_back(kept.used, BidKey(chunk.front()));
        std::push_heap(memoAges_.begin(), memoAges_.end(), std::greater<>());
        return {prior->xblock, prior->lcbTotal};
    }
    XBlockMemo next;
    size_t same = 0;
    if (prior) {
        const size_t n = std::min(chunk.size(), prior->children.size());
        while (same < n && prior->children[same] == chunk[same]) ++same;
        // The new memo replaces the prior one: its lists are reused, sizes of the shared
        // front included.
        next.children = std::move(prior->children);
        next.sizes = std::move(prior->sizes);
        prior->children.clear();
        prior->sizes.clear();
    }
    next.children.assign(chunk.begin(), chunk.end());
    next.sizes.resize(chunk.size());
    uint64_t total = 0;
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (i >= same) next.sizes[i] = BlockEntry(chunk[i], "writeDataTree").cb;
        total += next.sizes[i];
    }
    if (total > kMaxDataTreeBytes) {
        throw NdbError(Path() + ": writeDataTree: " + std::to_string(total) +
                       " bytes under one XBLOCK exceed what one data tree holds");
    }
    next.lcbTotal = static_cast<uint32_t>(total);
    EncodeDataTreeBlock(1, next.lcbTotal, next.children, encoded_);
    next.xblock = WriteRawBlock(encoded_, true);
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (i < same) {
            ShiftRef(chunk[i], +1);
        } else {
            AddRef(chunk[i], "writeDataTree");
        }
    }
    const Bid bid = next.xblock;
    Remember(std::move(next));
    return {bid, total};
}

void PstFile::Remember(XBlockMemo memo) {
    memo.used = ++memoClock_;
    const Bid key = BidKey(memo.children.front());
    memoAges_.emplace_back(memo.used, key);
    std::push_heap(memoAges_.begin(), memoAges_.end(), std::greater<>());
    xblocks_[key] = std::move(memo);
    if (xblocks_.size() > kMaxXBlockMemos) {
        // Streams rewritten at every commit stay fresh; one-off streams age out. Ages of memos
        // since used again or dropped are stale: skipped here.
        while (!memoAges_.empty()) {
            std::pop_heap(memoAges_.begin(), memoAges_.end(), std::greater<>());
            const auto [used, oldest] = memoAges_.back();
            memoAges_.pop_back();
            if (auto m = xblocks_.find(oldest); m != xblocks_.end() && m->second.used == used) {
                xblocks_.erase(m);
                break;
            }
        }
    }
    if (memoAges_.size() > 8 * kMaxXBlockMemos) {
        memoAges_.clear();
        for (const auto& [k, m] : xblocks_) memoAges_.emplace_back(m.used, k);
        std::make_heap(memoAges_.begin(), memoAges_.end(), std::greater<>());
    }
}

void PstFile::ShiftRef(Bid bid, int32_t delta) {
    changed_ = true;
    // Blocks of this transaction sit in BBT pages that are dirty anyway: counted at once.
    if (newBlocks_.Contains(BidKey(bid))) {
        if (auto e = bbt_.Find(BidKey(bid))) {
            e->cRef = static_cast<uint16_t>(e->cRef + delta);
            bbt_.Put(*e);
            return;
        }
    }
    if ((refDelta_[BidKey(bid)] += delta) == 0) refDelta_.erase(BidKey(bid));
}

Bid PstFile::WriteStream(std::span<const uint8_t> bytes) {
    RequireWritable("writeStream");
    if (bytes.size() > kMaxDataTreeBytes) {
        throw NdbError(Path() + ": writeStream: " + std::to_string(bytes.size()) +
                       " bytes exceed what one data tree holds (4 GiB)");
    }
    if (bytes.empty()) return WriteBlock(bytes);
    std::vector<Bid> leaves;
    leaves.reserve((bytes.size() + kMaxBlockData - 1) / kMaxBlockData);
    for (size_t at = 0; at < bytes.size(); at += kMaxBlockData) {
        leaves.push_back(WriteBlock(bytes.subspan(at, std::min(kMaxBlockData, bytes.size() - at))));
    }
    return WriteDataTree(leaves);
}

Bid PstFile::WriteSubnodes(const SubnodeMap& subnodes) {
    RequireWritable("writeSubnodes");
    if (subnodes.empty()) return 0;
    if (subnodes.size() > kMaxSlEntries * kMaxSiEntries) {
        throw NdbError(Path() + ": writeSubnodes: " + std::to_string(subnodes.size()) +
                       " subnodes exceed what one subnode tree holds");
    }
    std::vector<SubnodeLeafEntry> all;
    all.reserve(subnodes.size());
    for (const auto& [nid, e] : subnodes) {
        if (e.data != 0) BlockEntry(e.data, "writeSubnodes");
        if (e.sub != 0 && !IsInternalBid(BlockEntry(e.sub, "writeSubnodes").bid)) {
            throw NdbError(Path() + ": writeSubnodes: subnode " + Hex(nid) + " has sub " +
                           Hex(e.sub) + ", which is not a subnode tree block");
        }
        all.push_back({nid, e.data, e.sub});
    }
    auto makeLeaf = [&](size_t first, size_t count) {
        SubnodeTreeBlock b{0, {all.begin() + first, all.begin() + first + count}, {}};
        const Bid bid = WriteRawBlock(EncodeSubnodeTreeBlock(b), true);
        for (const auto& e : b.entries) {
            AddRef(e.data, "writeSubnodes");
            AddRef(e.sub, "writeSubnodes");
        }
        return bid;
    };
    if (all.size() <= kMaxSlEntries) return makeLeaf(0, all.size());
    SubnodeTreeBlock index{1, {}, {}};
    for (size_t first = 0; first < all.size(); first += kMaxSlEntries) {
        const size_t count = std::min<size_t>(kMaxSlEntries, all.size() - first);
        index.index.push_back({all[first].nid, makeLeaf(first, count)});
    }
    const Bid bid = WriteRawBlock(EncodeSubnodeTreeBlock(index), true);
    for (const auto& ix : index.index) AddRef(ix.block, "writeSubnodes");
    return bid;
}

void PstFile::PutNode(const NodeEntry& entry) {
    RequireWritable("putNode");
    const std::string context = "putNode(" + Hex(entry.nid) + ")";
    if (entry.nid == 0) throw NdbError(Path() + ": " + context + ": NID 0 is not a node");
    if (entry.data != 0) BlockEntry(entry.data, context.c_str());
    if (entry.sub != 0 && !IsInternalBid(BlockEntry(entry.sub, context.c_str()).bid)) {
        throw NdbError(Path() + ": " + context + ": sub " + Hex(entry.sub) +
                       " is not a subnode tree block");
    }
    const auto old = nbt_.Find(entry.nid);
    // New references first, so that blocks shared by the old and new entry survive.
    AddRef(entry.data, context);
    AddRef(entry.sub, context);
    nbt_.Put(entry);
    if (old) {
        Release(old->data);
        Release(old->sub);
    }
    changed_ = true;
}

void PstFile::RemoveNode(Nid nid) {
    RequireWritable("removeNode");
    const auto old = nbt_.Find(nid);
    if (!old) throw NdbError(Path() + ": removeNode: node " + Hex(nid) + " does not exist");
    nbt_.Erase(nid);
    Release(old->data);
    Release(old->sub);
    changed_ = true;
}

Nid PstFile::AllocateNid(uint32_t type) {
    RequireWritable("allocateNid");
    if (type >= 32) throw NdbError(Path() + ": allocateNid: bad NID type " + Hex(type));
    if (header_.rgnid[type] >= (1u << 27) - 1) {
        throw NdbError(Path() + ": allocateNid: NIDs of type " + Hex(type) + " are used up");
    }
    changed_ = true;
    return MakeNid(type, ++header_.rgnid[type]);
}

void PstFile::AddRef(Bid bid, const std::string& context) {
    if (bid == 0) return;
    auto e = FindBlock(bid);
    if (!e) {
        throw NdbError(Path() + ": " + context + ": block " + Hex(bid) + " is not in the BBT",
                       NdbError::Cause::Damaged);
    }
    if (e->cRef == 0xFFFF) {
        throw NdbError(Path() + ": " + context + ": block " + Hex(bid) +
                       " has too many references");
    }
    ShiftRef(bid, +1);
}

void PstFile::Release(Bid bid) {
    if (bid == 0) return;
    // A committed block counts at least one reference in the BBT; with one more added in this
    // transaction it keeps a reference after this one goes, so the BBT need not be read.
    if (auto d = refDelta_.find(BidKey(bid));
        d != refDelta_.end() && d->second > 0 && !newBlocks_.Contains(BidKey(bid))) {
        ShiftRef(bid, -1);
        return;
    }
    BbtEntry e = BlockEntry(bid, "release");
    if (e.cRef > 2) {
        ShiftRef(bid, -1);
        return;
    }
    Drop(e);
}

void PstFile::ApplyRefDeltas() {
    for (const auto& [key, delta] : refDelta_) {
        auto e = bbt_.Find(key);
        if (!e) continue;
        e->cRef = static_cast<uint16_t>(e->cRef + delta);
        bbt_.Put(*e);
    }
    refDelta_.clear();
}

// Removes a block that nothing refers to any more, then lets go of what it referred to.
void PstFile::Drop(const BbtEntry& e) {
    std::vector<Bid> children;
    if (IsInternalBid(e.bid)) {
        const auto bytes = ReadBlockData(e.bid);
        if (!bytes.empty() && bytes[0] == kBtypeDataTree) {
            children = DecodeDataTreeBlock(bytes, e.bid).children;
            if (auto m = children.empty() ? xblocks_.end() : xblocks_.find(BidKey(children[0]));
                m != xblocks_.end() && m->second.xblock == e.bid) {
                xblocks_.erase(m);
            }
        } else {
            const SubnodeTreeBlock b = DecodeSubnodeTreeBlock(bytes, e.bid);
            for (const auto& x : b.entries) {
                children.push_back(x.data);
                children.push_back(x.sub);
            }
            for (const auto& x : b.index) children.push_back(x.block);
        }
    }
    bbt_.Erase(BidKey(e.bid));
    refDelta_.erase(BidKey(e.bid));
    const uint64_t size = BlockDiskSize(e.cb);
    if (newBlocks_.Remove(BidKey(e.bid))) {
        amap_.MarkFree(e.ib, size);  // never committed: reusable at once
    } else {
        pendingFree_.emplace_back(e.ib, size);
    }
    changed_ = true;
    for (Bid child : children) Release(child);
}

void PstFile::Commit() {
    RequireWritable("commit");
    if (!changed_ && !inTransaction_) return;
    BeginWrite();

    // By index: dropping a block changes entries in place, never the list's length.
    for (size_t i = 0; i < newBlocks_.All().size(); ++i) {
        const Bid bid = newBlocks_.All()[i];
        if ((bid & 1) != 0) continue;  // dropped with its parent
        const auto e = FindBlock(bid);
        if (e && e->cRef < 2) Drop(*e);
    }
    ApplyRefDeltas();

    auto store = [this](PageImage& page, PageType type) {
        const Ib ib = Allocate(kPageSize, true);
        const Bid bid = header_.bidNextP++;
        SealPage(page, type, bid, ib);
        file_.WriteAt(ib, page);
        return Bref{bid, ib};
    };
    header_.nbt = nbt_.Flush(store);
    header_.bbt = bbt_.Flush(store);

    // Everything is placed; what the new header no longer reaches can be marked free in the
    // maps we are about to write, since they only count once that header is on disk.
    mapsTouched_ = true;
    for (const auto& r : nbt_.TakeRetired()) amap_.MarkFree(r.ib, kPageSize);
    for (const auto& r : bbt_.TakeRetired()) amap_.MarkFree(r.ib, kPageSize);
    for (const auto& [ib, size] : pendingFree_) amap_.MarkFree(ib, size);

    file_.WriteAt(kDListOffset, MakeEmptyDListPage(header_.bidNextP));
    for (uint64_t k : amap_.TakeDirty()) WriteMapPages(k, k >= committedIntervals_);
    const uint64_t n = amap_.Intervals();
    header_.ibFileEof = FileEofFor(n);
    header_.ibAMapLast = AMapOffset(n - 1);
    header_.cbAMapFree = amap_.FreeBytes();
    if (file_.size() != header_.ibFileEof) file_.Truncate(header_.ibFileEof);
    file_.Sync();

    header_.fAMapValid = kAMapValid;
    header_.dwUnique = committed_.dwUnique + 1;
    WriteHeader(header_);
    file_.Sync();

    committed_ = header_;
    committedIntervals_ = n;
    inTransaction_ = false;
    mapsTouched_ = false;
    changed_ = false;
    newBlocks_.Clear();
    pendingFree_.clear();
    nbt_.Prune(kKeptTreePages);
    bbt_.Prune(kKeptTreePages);
}

uint64_t PstFile::EndOfFile() const {
    return writable_ ? FileEofFor(amap_.Intervals()) : header_.ibFileEof;
}

uint64_t PstFile::FreeBytes() const {
    return writable_ ? amap_.FreeBytes() : header_.cbAMapFree;
}

}  // namespace pst::ndb
