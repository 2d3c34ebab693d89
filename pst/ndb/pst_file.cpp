#include "pst/ndb/pst_file.h"

#include <algorithm>
#include <cstring>

#include "pst/ndb/block.h"
#include "pst/ndb/errors.h"

namespace pst::ndb {
namespace {

constexpr uint64_t kMaxDataTreeBytes = 0xFFFFFFFFull;  // lcbTotal is 32 bits

}  // namespace

PstFile::PstFile(FileHandle file, bool writable) : file_(std::move(file)), writable_(writable) {}

PstFile::~PstFile() {
    // An abandoned transaction has touched nothing the last commit reaches; put the header
    // back so the file needs no repair.
    if (!writable_ || !inTransaction_ || mapsTouched_) return;
    try {
        if (file_.size() > committed_.ibFileEof) file_.truncate(committed_.ibFileEof);
        Header h = committed_;
        h.fAMapValid = kAMapValid;
        h.dwUnique = committed_.dwUnique + 1;
        writeHeader(h);
        file_.sync();
    } catch (const NdbError&) {
        // Left flagged: the next open for writing repairs the maps.
    }
}

std::unique_ptr<PstFile> PstFile::Create(const std::filesystem::path& path) {
    return Create(path, Encoding::Permute);
}

std::unique_ptr<PstFile> PstFile::Create(const std::filesystem::path& path, Encoding encoding) {
    FileHandle fh(path, FileHandle::Access::Create);
    if (fh.size() != 0) throw NdbError(fh.path() + " already exists and is not empty");
    std::unique_ptr<PstFile> f(new PstFile(std::move(fh), true));
    f->header_ = Header::New();
    f->header_.encoding = encoding;
    f->committed_ = f->header_;
    f->committed_.fAMapValid = kAMapInvalid;
    f->file_.truncate(FileEofFor(1));
    f->amap_.reset(1);
    f->committedIntervals_ = 0;
    auto nbtReader = [p = f.get()](const Bref& r) { return p->readPage(r, kPtypeNbt); };
    auto bbtReader = [p = f.get()](const Bref& r) { return p->readPage(r, kPtypeBbt); };
    f->nbt_.createEmpty(nbtReader);
    f->bbt_.createEmpty(bbtReader);
    f->changed_ = true;
    f->commit();
    return f;
}

std::unique_ptr<PstFile> PstFile::Open(const std::filesystem::path& path, Mode mode) {
    const bool writable = mode == Mode::ReadWrite;
    FileHandle fh(path, writable ? FileHandle::Access::ReadWrite : FileHandle::Access::Read);
    std::unique_ptr<PstFile> f(new PstFile(std::move(fh), writable));
    const uint64_t size = f->file_.size();
    if (size < kHeaderSize) {
        throw NdbError(
            f->path() + ": not a PST file (" + std::to_string(size) + " bytes, too small for one)",
            NdbError::Cause::NotPst);
    }
    std::array<uint8_t, kHeaderSize> raw{};
    f->file_.readAt(0, raw);
    f->header_ = Header::Parse(raw, f->path());
    f->header_.bidNextB = (f->header_.bidNextB + 3) & ~Bid{3};  // new BIDs keep bits 0-1 free
    f->committed_ = f->header_;
    if (size < f->header_.ibFileEof) {
        throw NdbError(f->path() + ": file is truncated (" + std::to_string(size) +
                           " bytes, the header says " + std::to_string(f->header_.ibFileEof) + ")",
                       NdbError::Cause::Damaged);
    }
    f->loadTrees();
    if (writable) {
        if (f->header_.fAMapValid == kAMapInvalid) {
            f->rebuildMaps();
        } else {
            f->loadMaps();
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

void PstFile::loadTrees() {
    nbt_.open(header_.nbt, [this](const Bref& r) { return readPage(r, kPtypeNbt); });
    bbt_.open(header_.bbt, [this](const Bref& r) { return readPage(r, kPtypeBbt); });
}

void PstFile::loadMaps() {
    const uint64_t n = AMapIndexOf(header_.ibFileEof);
    amap_.reset(0);
    for (uint64_t k = 0; k < n; ++k) {
        PageImage page{};
        file_.readAt(AMapOffset(k), page);
        if (!CheckPage(page, kPtypeAMap, 0, AMapOffset(k)).empty()) {
            // A damaged map is only a hint lost: rebuild all of them from the trees.
            rebuildMaps();
            return;
        }
        AllocationMap::Bitmap bits{};
        std::copy(page.begin(), page.begin() + kAMapBitmapBytes, bits.begin());
        amap_.append(bits);
    }
    amap_.takeDirty();
    committedIntervals_ = n;
}

void PstFile::rebuildMaps() {
    const uint64_t n = AMapIndexOf(header_.ibFileEof);
    amap_.reset(n);
    auto mark = [this](Ib ib, uint64_t size, const char* what) {
        if (ib % kSlotSize != 0 || !amap_.markUsed(ib, size)) {
            throw NdbError(path() + ": cannot repair the allocation maps: " + what + " at " +
                               Hex(ib) + " overlaps other data",
                           NdbError::Cause::Damaged);
        }
    };
    nbt_.forEachPage([&](const Bref& r, uint8_t) { mark(r.ib, kPageSize, "NBT page"); },
                     [](const NodeEntry&) {});
    bbt_.forEachPage([&](const Bref& r, uint8_t) { mark(r.ib, kPageSize, "BBT page"); },
                     [&](const BbtEntry& e) { mark(e.ib, BlockDiskSize(e.cb), "block"); });
    if (file_.size() > header_.ibFileEof) file_.truncate(header_.ibFileEof);
    for (uint64_t k = 0; k < n; ++k) writeMapPages(k, false);
    amap_.takeDirty();
    header_.cbAMapFree = amap_.freeBytes();
    header_.ibAMapLast = AMapOffset(n - 1);
    header_.fAMapValid = kAMapValid;
    header_.dwUnique = committed_.dwUnique + 1;
    file_.sync();
    writeHeader(header_);
    file_.sync();
    committed_ = header_;
    committedIntervals_ = n;
    recovered_ = true;
}

void PstFile::writeMapPages(uint64_t k, bool fresh) {
    const Ib base = AMapOffset(k);
    file_.writeAt(base, MakeAMapPage(base, amap_.bitmap(k).data()));
    if (!fresh) return;
    Ib next = base + kPageSize;
    if (HasPMap(k)) {
        file_.writeAt(next, MakeFilledMapPage(kPtypePMap, next));
        next += kPageSize;
    }
    if (HasFMap(k)) {
        file_.writeAt(next, MakeFilledMapPage(kPtypeFMap, next));
        next += kPageSize;
    }
    if (HasFPMap(k)) {
        file_.writeAt(next, MakeFilledMapPage(kPtypeFPMap, next));
        file_.writeAt(next + kPageSize, MakeFilledMapPage(kPtypeFPMap, next + kPageSize));
    }
}

// Reads may reach space added by this transaction's growth.
uint64_t PstFile::readLimit() const {
    return std::max(header_.ibFileEof, FileEofFor(amap_.intervals()));
}

void PstFile::writeHeader(const Header& header) {
    file_.writeAt(0, header.serialize());
}

void PstFile::requireWritable(const char* operation) const {
    if (!writable_) throw NdbError(path() + " is open read-only (" + operation + ")");
}

// The first write of a transaction flags the maps invalid, so that a crash before the commit
// completes makes the next writer rebuild them.
void PstFile::beginWrite() {
    if (inTransaction_) return;
    Header h = committed_;
    h.fAMapValid = kAMapInvalid;
    h.dwUnique = committed_.dwUnique + 1;
    writeHeader(h);
    file_.sync();
    committed_ = h;
    header_.dwUnique = h.dwUnique;
    inTransaction_ = true;
}

Bid PstFile::nextBid(bool internal) {
    const Bid bid = header_.bidNextB;
    header_.bidNextB += 4;
    return internal ? bid | 2 : bid;
}

Ib PstFile::allocate(uint64_t bytes, bool pageAligned) {
    if (auto ib = amap_.allocate(bytes, pageAligned)) return *ib;
    amap_.grow();
    if (auto ib = amap_.allocate(bytes, pageAligned)) return *ib;
    throw NdbError(path() + ": no room for " + std::to_string(bytes) + " bytes after growing");
}

Bid PstFile::writeRawBlock(std::span<const uint8_t> bytes, bool internal) {
    if (bytes.size() > kMaxBlockData) {
        throw NdbError(path() + ": a block holds at most 8176 bytes, not " +
                       std::to_string(bytes.size()));
    }
    beginWrite();
    const Bid bid = nextBid(internal);
    // The disk image is made where it is written from: the file's write buffer. Data, zero
    // padding, then encoded in place and sealed with its trailer.
    const auto cb = static_cast<uint16_t>(bytes.size());
    const uint64_t size = BlockDiskSize(cb);
    const Ib ib = allocate(size, false);
    const std::span<uint8_t> image = file_.placeWrite(ib, size);
    if (cb > 0) std::memcpy(image.data(), bytes.data(), cb);
    std::memset(image.data() + cb, 0, size - cb - kBlockTrailerSize);
    if (!internal) EncodeData(header_.encoding, bid, image.first(cb));
    SealBlockImage(image, cb, bid, ib);
    bbt_.put({bid, ib, cb, 1});
    newBlocks_.add(bid);
    changed_ = true;
    return bid;
}

PageImage PstFile::readPage(const Bref& ref, PageType type) const {
    const uint64_t limit = readLimit();
    if (ref.ib % kPageSize != 0 || ref.ib < kFirstAMapOffset || ref.ib + kPageSize > limit) {
        throw NdbError(
            path() + ": B-tree page " + Hex(ref.bid) + " has a bad offset " + Hex(ref.ib),
            NdbError::Cause::Damaged);
    }
    PageImage page{};
    file_.readAt(ref.ib, page);
    const std::string problem = CheckPage(page, type, ref.bid, ref.ib);
    if (!problem.empty()) throw NdbError(path() + ": " + problem, NdbError::Cause::Damaged);
    return page;
}

BbtEntry PstFile::blockEntry(Bid bid, const char* context) const {
    auto e = findBlock(bid);
    if (!e) {
        throw NdbError(path() + ": " + context + ": block " + Hex(bid) + " is not in the BBT",
                       NdbError::Cause::Damaged);
    }
    return *e;
}

std::vector<uint8_t> PstFile::readBlockData(Bid bid) const {
    const BbtEntry e = blockEntry(bid, "read");
    const uint64_t limit = readLimit();
    const uint64_t size = BlockDiskSize(e.cb);
    if (e.ib % kSlotSize != 0 || e.ib < kFirstAMapOffset || e.ib + size > limit ||
        e.cb > kMaxBlockData) {
        throw NdbError(path() + ": block " + Hex(bid) + " has a bad place " + Hex(e.ib) +
                           " or size " + std::to_string(e.cb),
                       NdbError::Cause::Damaged);
    }
    std::vector<uint8_t> image(size);
    file_.readAt(e.ib, image);
    const std::string problem = CheckBlockTrailer(image, e.cb, e.bid, e.ib);
    if (!problem.empty()) throw NdbError(path() + ": " + problem, NdbError::Cause::Damaged);
    image.resize(e.cb);
    if (!IsInternalBid(e.bid)) DecodeData(header_.encoding, e.bid, image);
    return image;
}

// --- reading ---

std::optional<NodeEntry> PstFile::findNode(Nid nid) const {
    return nbt_.find(nid);
}

std::optional<BbtEntry> PstFile::findBlock(Bid bid) const {
    auto e = bbt_.find(BidKey(bid));
    if (e) {
        if (auto d = refDelta_.find(BidKey(bid)); d != refDelta_.end()) {
            e->cRef = static_cast<uint16_t>(e->cRef + d->second);
        }
    }
    return e;
}

void PstFile::forEachNode(const std::function<void(const NodeEntry&)>& fn) const {
    nbt_.forEach(fn);
}

std::vector<uint8_t> PstFile::readBlock(Bid bid) const {
    if (IsInternalBid(bid)) {
        throw NdbError(path() + ": readBlock: " + Hex(bid) + " is an internal block");
    }
    return readBlockData(bid);
}

std::vector<Bid> PstFile::dataBlocks(Bid data) const {
    if (data == 0) return {};
    if (!IsInternalBid(data)) {
        blockEntry(data, "dataBlocks");
        return {data};
    }
    const DataTreeBlock top = DecodeDataTreeBlock(readBlockData(data), data);
    if (top.level == 1) return top.children;
    std::vector<Bid> leaves;
    for (Bid x : top.children) {
        const DataTreeBlock mid = DecodeDataTreeBlock(readBlockData(x), x);
        if (mid.level != 1) {
            throw NdbError(path() + ": XXBLOCK " + Hex(data) + " holds a non-XBLOCK " + Hex(x),
                           NdbError::Cause::Damaged);
        }
        leaves.insert(leaves.end(), mid.children.begin(), mid.children.end());
    }
    return leaves;
}

uint64_t PstFile::streamSize(Bid data) const {
    if (data == 0) return 0;
    if (!IsInternalBid(data)) return blockEntry(data, "streamSize").cb;
    return DecodeDataTreeBlock(readBlockData(data), data).lcbTotal;
}

std::vector<uint8_t> PstFile::readStream(Bid data) const {
    std::vector<uint8_t> out;
    const uint64_t expected = streamSize(data);
    out.reserve(expected);
    for (Bid leaf : dataBlocks(data)) {
        if (IsInternalBid(leaf)) {
            throw NdbError(
                path() + ": data tree " + Hex(data) + " has an internal leaf " + Hex(leaf),
                NdbError::Cause::Damaged);
        }
        const auto bytes = readBlockData(leaf);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() != expected) {
        throw NdbError(path() + ": data tree " + Hex(data) + " holds " +
                           std::to_string(out.size()) + " bytes, its total says " +
                           std::to_string(expected),
                       NdbError::Cause::Damaged);
    }
    return out;
}

SubnodeMap PstFile::readSubnodes(Bid sub) const {
    SubnodeMap map;
    if (sub == 0) return map;
    if (!IsInternalBid(sub)) {
        throw NdbError(path() + ": subnode tree " + Hex(sub) + " is not an internal block",
                       NdbError::Cause::Damaged);
    }
    const SubnodeTreeBlock top = DecodeSubnodeTreeBlock(readBlockData(sub), sub);
    auto add = [&map](const SubnodeTreeBlock& leaf) {
        for (const auto& e : leaf.entries) map[e.nid] = {e.data, e.sub};
    };
    if (top.level == 0) {
        add(top);
        return map;
    }
    for (const auto& ix : top.index) {
        const SubnodeTreeBlock leaf = DecodeSubnodeTreeBlock(readBlockData(ix.block), ix.block);
        if (leaf.level != 0) {
            throw NdbError(
                path() + ": SIBLOCK " + Hex(sub) + " holds a non-SLBLOCK " + Hex(ix.block),
                NdbError::Cause::Damaged);
        }
        add(leaf);
    }
    return map;
}

// --- writing ---

Bid PstFile::writeBlock(std::span<const uint8_t> data) {
    requireWritable("writeBlock");
    return writeRawBlock(data, false);
}

Bid PstFile::writeDataTree(std::span<const Bid> leaves) {
    requireWritable("writeDataTree");
    if (leaves.empty()) return 0;
    for (Bid leaf : leaves) {
        if (IsInternalBid(leaf)) {
            throw NdbError(path() + ": writeDataTree: leaf " + Hex(leaf) + " is internal");
        }
    }
    if (leaves.size() == 1) {
        blockEntry(leaves[0], "writeDataTree");
        return leaves[0];
    }
    if (leaves.size() > kMaxXBlockEntries * kMaxXBlockEntries) {
        throw NdbError(path() + ": writeDataTree: " + std::to_string(leaves.size()) +
                       " blocks exceed what one data tree holds (4 GiB)");
    }
    auto xblock = [&](size_t first, size_t count) {
        return writeXBlock(leaves.subspan(first, count));
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
        throw NdbError(path() + ": writeDataTree: a stream of " + std::to_string(total) +
                       " bytes in " + std::to_string(leaves.size()) +
                       " blocks exceeds what one data tree holds (4 GiB)");
    }
    xx.lcbTotal = static_cast<uint32_t>(total);
    const Bid bid = writeRawBlock(EncodeDataTreeBlock(xx), true);
    for (Bid x : xx.children) addRef(x, "writeDataTree");
    return bid;
}

// An XBLOCK over the same leaves as a remembered one is kept; the XXBLOCK (or the caller, for
// a lone XBLOCK) adds the reference to it, as to a new one. A changed XBLOCK is written anew,
// but the leaves it shares with the remembered one at its front need no BBT lookups: their
// sizes are known, and they exist because the remembered XBLOCK still refers to them.
std::pair<Bid, uint64_t> PstFile::writeXBlock(std::span<const Bid> chunk) {
    XBlockMemo* prior = nullptr;
    if (auto m = xblocks_.find(BidKey(chunk.front())); m != xblocks_.end()) {
        if (bbt_.find(BidKey(m->second.xblock))) {
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
        if (i >= same) next.sizes[i] = blockEntry(chunk[i], "writeDataTree").cb;
        total += next.sizes[i];
    }
    if (total > kMaxDataTreeBytes) {
        throw NdbError(path() + ": writeDataTree: " + std::to_string(total) +
                       " bytes under one XBLOCK exceed what one data tree holds");
    }
    next.lcbTotal = static_cast<uint32_t>(total);
    EncodeDataTreeBlock(1, next.lcbTotal, next.children, encoded_);
    next.xblock = writeRawBlock(encoded_, true);
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (i < same) {
            shiftRef(chunk[i], +1);
        } else {
            addRef(chunk[i], "writeDataTree");
        }
    }
    const Bid bid = next.xblock;
    remember(std::move(next));
    return {bid, total};
}

void PstFile::remember(XBlockMemo memo) {
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

void PstFile::shiftRef(Bid bid, int32_t delta) {
    changed_ = true;
    // Blocks of this transaction sit in BBT pages that are dirty anyway: counted at once.
    if (newBlocks_.contains(BidKey(bid))) {
        if (auto e = bbt_.find(BidKey(bid))) {
            e->cRef = static_cast<uint16_t>(e->cRef + delta);
            bbt_.put(*e);
            return;
        }
    }
    if ((refDelta_[BidKey(bid)] += delta) == 0) refDelta_.erase(BidKey(bid));
}

Bid PstFile::writeStream(std::span<const uint8_t> bytes) {
    requireWritable("writeStream");
    if (bytes.size() > kMaxDataTreeBytes) {
        throw NdbError(path() + ": writeStream: " + std::to_string(bytes.size()) +
                       " bytes exceed what one data tree holds (4 GiB)");
    }
    if (bytes.empty()) return writeBlock(bytes);
    std::vector<Bid> leaves;
    leaves.reserve((bytes.size() + kMaxBlockData - 1) / kMaxBlockData);
    for (size_t at = 0; at < bytes.size(); at += kMaxBlockData) {
        leaves.push_back(writeBlock(bytes.subspan(at, std::min(kMaxBlockData, bytes.size() - at))));
    }
    return writeDataTree(leaves);
}

Bid PstFile::writeSubnodes(const SubnodeMap& subnodes) {
    requireWritable("writeSubnodes");
    if (subnodes.empty()) return 0;
    if (subnodes.size() > kMaxSlEntries * kMaxSiEntries) {
        throw NdbError(path() + ": writeSubnodes: " + std::to_string(subnodes.size()) +
                       " subnodes exceed what one subnode tree holds");
    }
    std::vector<SubnodeLeafEntry> all;
    all.reserve(subnodes.size());
    for (const auto& [nid, e] : subnodes) {
        if (e.data != 0) blockEntry(e.data, "writeSubnodes");
        if (e.sub != 0 && !IsInternalBid(blockEntry(e.sub, "writeSubnodes").bid)) {
            throw NdbError(path() + ": writeSubnodes: subnode " + Hex(nid) + " has sub " +
                           Hex(e.sub) + ", which is not a subnode tree block");
        }
        all.push_back({nid, e.data, e.sub});
    }
    auto makeLeaf = [&](size_t first, size_t count) {
        SubnodeTreeBlock b{0, {all.begin() + first, all.begin() + first + count}, {}};
        const Bid bid = writeRawBlock(EncodeSubnodeTreeBlock(b), true);
        for (const auto& e : b.entries) {
            addRef(e.data, "writeSubnodes");
            addRef(e.sub, "writeSubnodes");
        }
        return bid;
    };
    if (all.size() <= kMaxSlEntries) return makeLeaf(0, all.size());
    SubnodeTreeBlock index{1, {}, {}};
    for (size_t first = 0; first < all.size(); first += kMaxSlEntries) {
        const size_t count = std::min<size_t>(kMaxSlEntries, all.size() - first);
        index.index.push_back({all[first].nid, makeLeaf(first, count)});
    }
    const Bid bid = writeRawBlock(EncodeSubnodeTreeBlock(index), true);
    for (const auto& ix : index.index) addRef(ix.block, "writeSubnodes");
    return bid;
}

void PstFile::putNode(const NodeEntry& entry) {
    requireWritable("putNode");
    const std::string context = "putNode(" + Hex(entry.nid) + ")";
    if (entry.nid == 0) throw NdbError(path() + ": " + context + ": NID 0 is not a node");
    if (entry.data != 0) blockEntry(entry.data, context.c_str());
    if (entry.sub != 0 && !IsInternalBid(blockEntry(entry.sub, context.c_str()).bid)) {
        throw NdbError(path() + ": " + context + ": sub " + Hex(entry.sub) +
                       " is not a subnode tree block");
    }
    const auto old = nbt_.find(entry.nid);
    // New references first, so that blocks shared by the old and new entry survive.
    addRef(entry.data, context);
    addRef(entry.sub, context);
    nbt_.put(entry);
    if (old) {
        release(old->data);
        release(old->sub);
    }
    changed_ = true;
}

void PstFile::removeNode(Nid nid) {
    requireWritable("removeNode");
    const auto old = nbt_.find(nid);
    if (!old) throw NdbError(path() + ": removeNode: node " + Hex(nid) + " does not exist");
    nbt_.erase(nid);
    release(old->data);
    release(old->sub);
    changed_ = true;
}

Nid PstFile::allocateNid(uint32_t type) {
    requireWritable("allocateNid");
    if (type >= 32) throw NdbError(path() + ": allocateNid: bad NID type " + Hex(type));
    if (header_.rgnid[type] >= (1u << 27) - 1) {
        throw NdbError(path() + ": allocateNid: NIDs of type " + Hex(type) + " are used up");
    }
    changed_ = true;
    return MakeNid(type, ++header_.rgnid[type]);
}

void PstFile::addRef(Bid bid, const std::string& context) {
    if (bid == 0) return;
    auto e = findBlock(bid);
    if (!e) {
        throw NdbError(path() + ": " + context + ": block " + Hex(bid) + " is not in the BBT",
                       NdbError::Cause::Damaged);
    }
    if (e->cRef == 0xFFFF) {
        throw NdbError(path() + ": " + context + ": block " + Hex(bid) +
                       " has too many references");
    }
    shiftRef(bid, +1);
}

void PstFile::release(Bid bid) {
    if (bid == 0) return;
    // A committed block counts at least one reference in the BBT; with one more added in this
    // transaction it keeps a reference after this one goes, so the BBT need not be read.
    if (auto d = refDelta_.find(BidKey(bid));
        d != refDelta_.end() && d->second > 0 && !newBlocks_.contains(BidKey(bid))) {
        shiftRef(bid, -1);
        return;
    }
    BbtEntry e = blockEntry(bid, "release");
    if (e.cRef > 2) {
        shiftRef(bid, -1);
        return;
    }
    drop(e);
}

void PstFile::applyRefDeltas() {
    for (const auto& [key, delta] : refDelta_) {
        auto e = bbt_.find(key);
        if (!e) continue;
        e->cRef = static_cast<uint16_t>(e->cRef + delta);
        bbt_.put(*e);
    }
    refDelta_.clear();
}

// Removes a block that nothing refers to any more, then lets go of what it referred to.
void PstFile::drop(const BbtEntry& e) {
    std::vector<Bid> children;
    if (IsInternalBid(e.bid)) {
        const auto bytes = readBlockData(e.bid);
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
    bbt_.erase(BidKey(e.bid));
    refDelta_.erase(BidKey(e.bid));
    const uint64_t size = BlockDiskSize(e.cb);
    if (newBlocks_.remove(BidKey(e.bid))) {
        amap_.markFree(e.ib, size);  // never committed: reusable at once
    } else {
        pendingFree_.emplace_back(e.ib, size);
    }
    changed_ = true;
    for (Bid child : children) release(child);
}

void PstFile::commit() {
    requireWritable("commit");
    if (!changed_ && !inTransaction_) return;
    beginWrite();

    // By index: dropping a block changes entries in place, never the list's length.
    for (size_t i = 0; i < newBlocks_.all().size(); ++i) {
        const Bid bid = newBlocks_.all()[i];
        if ((bid & 1) != 0) continue;  // dropped with its parent
        const auto e = findBlock(bid);
        if (e && e->cRef < 2) drop(*e);
    }
    applyRefDeltas();

    auto store = [this](PageImage& page, PageType type) {
        const Ib ib = allocate(kPageSize, true);
        const Bid bid = header_.bidNextP++;
        SealPage(page, type, bid, ib);
        file_.writeAt(ib, page);
        return Bref{bid, ib};
    };
    header_.nbt = nbt_.flush(store);
    header_.bbt = bbt_.flush(store);

    // Everything is placed; what the new header no longer reaches can be marked free in the
    // maps we are about to write, since they only count once that header is on disk.
    mapsTouched_ = true;
    for (const auto& r : nbt_.takeRetired()) amap_.markFree(r.ib, kPageSize);
    for (const auto& r : bbt_.takeRetired()) amap_.markFree(r.ib, kPageSize);
    for (const auto& [ib, size] : pendingFree_) amap_.markFree(ib, size);

    file_.writeAt(kDListOffset, MakeEmptyDListPage(header_.bidNextP));
    for (uint64_t k : amap_.takeDirty()) writeMapPages(k, k >= committedIntervals_);
    const uint64_t n = amap_.intervals();
    header_.ibFileEof = FileEofFor(n);
    header_.ibAMapLast = AMapOffset(n - 1);
    header_.cbAMapFree = amap_.freeBytes();
    if (file_.size() != header_.ibFileEof) file_.truncate(header_.ibFileEof);
    file_.sync();

    header_.fAMapValid = kAMapValid;
    header_.dwUnique = committed_.dwUnique + 1;
    writeHeader(header_);
    file_.sync();

    committed_ = header_;
    committedIntervals_ = n;
    inTransaction_ = false;
    mapsTouched_ = false;
    changed_ = false;
    newBlocks_.clear();
    pendingFree_.clear();
    nbt_.prune(kKeptTreePages);
    bbt_.prune(kKeptTreePages);
}

uint64_t PstFile::freeBytes() const {
    return writable_ ? amap_.freeBytes() : header_.cbAMapFree;
}

}  // namespace pst::ndb
