#include "pst/ltp/table_context.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pst/ltp/byte_io.h"

namespace pst::ltp {
namespace {

constexpr uint8_t kTcInfoType = 0x7C;
constexpr size_t kTcInfoHeader = 22;
constexpr uint8_t kRowIndexKey = 4;
constexpr uint8_t kRowIndexData = 4;

// Cell width in a row: inline types by size, everything else an HNID.
uint8_t CellSize(uint16_t type) {
    size_t n = InlineSize(type);
    return uint8_t(n == 0 ? 4 : n);
}

bool IsHnidColumn(uint16_t type) {
    return InlineSize(type) == 0;
}

Heap LoadTcHeap(const ndb::NodeDatabase& db, ndb::Bid data) {
    Heap heap(db, data);
    if (heap.clientSig() != kClientSigTc) {
        throw std::runtime_error("TC: heap " + Hex(data) + " has client signature " +
                                 Hex(heap.clientSig()) + ", not 0x7C");
    }
    return heap;
}

}  // namespace

TableContext::TableContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                           std::span<const uint32_t> columnTags)
    : db_(db), subnodes_(subnodes), heap_(kClientSigTc), values_(heap_, db, subnodes) {
    // Allocation order as Outlook uses it: RowIndex header at 0x20, TCINFO at 0x40.
    index_.emplace(heap_, BTree::Create(heap_, kRowIndexKey, kRowIndexData));
    std::vector<uint32_t> tags(columnTags.begin(), columnTags.end());
    tags.push_back(kRowIdTag);
    tags.push_back(kRowVerTag);
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    uint8_t nextBit = 2;
    for (uint32_t tag : tags) {
        if (PropIdOf(tag) == PropIdOf(kRowIdTag) || PropIdOf(tag) == PropIdOf(kRowVerTag)) {
            if (tag != kRowIdTag && tag != kRowVerTag) {
                throw std::invalid_argument("TC: column " + Hex(tag) +
                                            " clashes with RowId/RowVer");
            }
        }
        TcColumn c;
        c.tag = tag;
        c.cbData = CellSize(PropTypeOf(tag));
        c.iBit = tag == kRowIdTag ? 0 : tag == kRowVerTag ? 1 : nextBit++;
        columns_.push_back(c);
    }
    if (columns_.size() > 255) throw std::invalid_argument("TC: more than 255 columns");
    layout();
    storeInfo();
}

TableContext::TableContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes, ndb::Bid data)
    : db_(db), subnodes_(subnodes), heap_(LoadTcHeap(db, data)), values_(heap_, db, subnodes) {
    info_ = heap_.userRoot();
    readInfo();
}

void TableContext::readInfo() {
    auto info = heap_.read(info_);
    if (info.size() < kTcInfoHeader || info[0] != kTcInfoType) {
        throw std::runtime_error("TC: item " + Hex(info_) + " is not a TCINFO");
    }
    size_t cCols = info[1];
    if (info.size() < kTcInfoHeader + 8 * cCols) {
        throw std::runtime_error("TC: TCINFO of " + std::to_string(info.size()) + " bytes for " +
                                 std::to_string(cCols) + " columns");
    }
    for (int i = 0; i < 4; ++i) rgib_[i] = Get16(info, 2 + 2 * i);
    rowSize_ = rgib_[3];
    Hid rowIndex = Get32(info, 10);
    hnidRows_ = Get32(info, 14);
    columns_.clear();
    for (size_t i = 0; i < cCols; ++i) {
        size_t o = kTcInfoHeader + 8 * i;
        TcColumn c{Get32(info, o), Get16(info, o + 4), info[o + 6], info[o + 7]};
        if (c.ibData + c.cbData > rgib_[2] || c.iBit / 8 >= rgib_[3] - rgib_[2]) {
            throw std::runtime_error("TC: column " + Hex(c.tag) + " lies outside the row");
        }
        columns_.push_back(c);
    }
    if (rowSize_ == 0) throw std::runtime_error("TC: row size 0");
    index_.emplace(heap_, rowIndex);
    if (index_->keySize() != kRowIndexKey || index_->dataSize() != kRowIndexData) {
        throw std::runtime_error("TC: RowIndex has key/data sizes " +
                                 std::to_string(index_->keySize()) + "/" +
                                 std::to_string(index_->dataSize()) + ", not 4/4");
    }
    pages_.clear();
    rowCount_ = 0;
    inSubnode_ = false;
    if (hnidRows_ == 0) return;
    if (IsHid(hnidRows_)) {
        rowCount_ = heap_.itemSize(hnidRows_) / rowSize_;
        pages_.push_back(Page{});
        return;
    }
    inSubnode_ = true;
    matrixNid_ = hnidRows_;
    auto it = subnodes_.find(hnidRows_);
    if (it == subnodes_.end()) {
        throw std::runtime_error("TC: row matrix subnode " + Hex(hnidRows_) + " is missing");
    }
    for (ndb::Bid b : db_.dataBlocks(it->second.data)) {
        Page p;
        p.bid = b;
        p.padded = true;
        pages_.push_back(std::move(p));
    }
    if (pages_.empty()) return;
    // Every block but the last holds a full set of rows; the last one tells the remainder.
    Page& last = pages_.back();
    last.rows = db_.readBlock(last.bid);
    last.padded = false;
    last.rows.resize(last.rows.size() / rowSize_ * rowSize_);
    last.loaded = true;
    rowCount_ = (pages_.size() - 1) * rowsPerPage() + last.rows.size() / rowSize_;
}

void TableContext::layout() {
    // RowId and RowVer first, then 8/4-byte cells, 2-byte, 1-byte, and the CEB.
    uint16_t off = 8;
    for (auto& c : columns_) {
        if (c.tag == kRowIdTag) c.ibData = 0;
        if (c.tag == kRowVerTag) c.ibData = 4;
    }
    for (uint8_t size : {uint8_t(8), uint8_t(4), uint8_t(2), uint8_t(1)}) {
        for (auto& c : columns_) {
            if (c.tag == kRowIdTag || c.tag == kRowVerTag || c.cbData != size) continue;
            c.ibData = off;
            off += size;
        }
        if (size == 4) rgib_[0] = off;
        if (size == 2) rgib_[1] = off;
        if (size == 1) rgib_[2] = off;
    }
    rgib_[3] = uint16_t(off + (columns_.size() + 7) / 8);
    rowSize_ = rgib_[3];
    if (rowSize_ > ndb::kMaxBlockData) throw std::invalid_argument("TC: row larger than a block");
}

void TableContext::storeInfo() {
    std::vector<uint8_t> info(kTcInfoHeader + 8 * columns_.size(), 0);
    info[0] = kTcInfoType;
    info[1] = uint8_t(columns_.size());
    for (int i = 0; i < 4; ++i) Put16(info, 2 + 2 * i, rgib_[i]);
    Put32(info, 10, index_->header());
    Put32(info, 14, hnidRows_);
    for (size_t i = 0; i < columns_.size(); ++i) {
        size_t o = kTcInfoHeader + 8 * i;
        Put32(info, o, columns_[i].tag);
        Put16(info, o + 4, columns_[i].ibData);
        info[o + 6] = columns_[i].cbData;
        info[o + 7] = columns_[i].iBit;
    }
    info_ = info_ == 0 ? heap_.allocate(info) : heap_.replace(info_, info);
    heap_.setUserRoot(info_);
    infoDirty_ = false;
}

const TcColumn* TableContext::column(uint32_t tag) const {
    auto it = std::lower_bound(columns_.begin(), columns_.end(), tag,
                               [](const TcColumn& c, uint32_t t) { return c.tag < t; });
    return it != columns_.end() && it->tag == tag ? &*it : nullptr;
}

size_t TableContext::rowsPerPage() const {
    return inSubnode_ ? ndb::kMaxBlockData / rowSize_ : kMaxHeapItem / rowSize_;
}

TableContext::Page& TableContext::page(size_t p) const {
    Page& pg = pages_.at(p);
    if (!pg.loaded) {
        if (inSubnode_) {
            pg.rows = db_.readBlock(pg.bid);
            // A padded block is a full one; an unpadded block ends at its last row.
            size_t rows = pg.padded ? rowsPerPage() : pg.rows.size() / rowSize_;
            pg.rows.resize(rows * rowSize_);
        } else {
            pg.rows = heap_.read(hnidRows_);
        }
        pg.loaded = true;
    }
    return pg;
}

std::vector<uint8_t> TableContext::readRow(size_t index) const {
    if (index >= rowCount_) {
        throw std::out_of_range("TC: row " + std::to_string(index) + " of " +
                                std::to_string(rowCount_));
    }
    size_t rpp = rowsPerPage();
    const Page& p = page(index / rpp);
    size_t off = index % rpp * rowSize_;
    return std::vector<uint8_t>(p.rows.begin() + off, p.rows.begin() + off + rowSize_);
}

void TableContext::writeRow(size_t index, std::span<const uint8_t> bytes) {
    size_t rpp = rowsPerPage();
    Page& p = page(index / rpp);
    std::copy(bytes.begin(), bytes.end(), p.rows.begin() + index % rpp * rowSize_);
    p.dirty = true;
    matrixDirty_ = true;
}

void TableContext::pushRow(std::span<const uint8_t> bytes) {
    if (!inSubnode_ && (rowCount_ + 1) * rowSize_ > kMaxHeapItem) {
        // Outgrowing one heap item: the matrix moves to a subnode data tree for good.
        std::vector<uint8_t> all;
        if (!pages_.empty()) all = page(0).rows;
        all.insert(all.end(), bytes.begin(), bytes.end());
        rebuildMatrix(all);
        ++rowCount_;
        return;
    }
    if (pages_.empty() || page(pages_.size() - 1).rows.size() / rowSize_ == rowsPerPage()) {
        Page p;
        p.loaded = true;
        pages_.push_back(std::move(p));
    }
    Page& last = page(pages_.size() - 1);
    last.rows.insert(last.rows.end(), bytes.begin(), bytes.end());
    last.dirty = true;
    matrixDirty_ = true;
    ++rowCount_;
}

void TableContext::popRow() {
    Page& last = page(pages_.size() - 1);
    last.rows.resize(last.rows.size() - rowSize_);
    last.dirty = true;
    if (last.rows.empty()) pages_.pop_back();
    matrixDirty_ = true;
    --rowCount_;
}

void TableContext::rebuildMatrix(const std::vector<uint8_t>& all) {
    bool toSubnode = all.size() > kMaxHeapItem;
    if (!inSubnode_ && hnidRows_ != 0 && toSubnode) {
        heap_.free(hnidRows_);
        hnidRows_ = 0;
    }
    if (inSubnode_ && !toSubnode) {
        subnodes_.erase(matrixNid_);
        hnidRows_ = 0;
    }
    inSubnode_ = toSubnode;
    pages_.clear();
    size_t per = rowsPerPage() * rowSize_;
    for (size_t off = 0; off < all.size(); off += per) {
        Page p;
        p.loaded = p.dirty = true;
        p.rows.assign(all.begin() + off, all.begin() + std::min(all.size(), off + per));
        pages_.push_back(std::move(p));
    }
    matrixDirty_ = true;
    infoDirty_ = true;
}

bool TableContext::present(std::span<const uint8_t> row, const TcColumn& c) const {
    return (row[rgib_[2] + c.iBit / 8] & (0x80 >> (c.iBit % 8))) != 0;
}

void TableContext::setCell(std::vector<uint8_t>& row, const TcColumn& c, const PropertyValue& v) {
    uint16_t type = PropTypeOf(c.tag);
    uint32_t stored = 0;
    if (IsHnidColumn(type)) {
        stored = values_.store(v);
    } else {
        if (v.isStream()) throw std::invalid_argument("TC: stream for column " + Hex(c.tag));
        CheckValueBytes(c.tag, v.bytes());
    }
    clearCell(row, c);
    if (IsHnidColumn(type)) {
        Put32(row, c.ibData, stored);
    } else {
        uint64_t x = GetLe(v.bytes(), 0, v.bytes().size());
        if (type == kPtypBoolean) x = x != 0 ? 1 : 0;
        PutLe(row, c.ibData, x, c.cbData);
    }
    row[rgib_[2] + c.iBit / 8] |= uint8_t(0x80 >> (c.iBit % 8));
}

void TableContext::clearCell(std::vector<uint8_t>& row, const TcColumn& c) {
    if (!present(row, c)) return;
    if (IsHnidColumn(PropTypeOf(c.tag))) values_.release(Get32(row, c.ibData));
    std::fill(row.begin() + c.ibData, row.begin() + c.ibData + c.cbData, 0);
    row[rgib_[2] + c.iBit / 8] &= uint8_t(~(0x80 >> (c.iBit % 8)));
}

PropertyValue TableContext::decode(std::span<const uint8_t> row, const TcColumn& c) const {
    uint16_t type = PropTypeOf(c.tag);
    if (IsHnidColumn(type)) return PropertyValue(c.tag, values_.load(Get32(row, c.ibData)));
    return PropertyValue(
        c.tag, std::vector<uint8_t>(row.begin() + c.ibData, row.begin() + c.ibData + c.cbData));
}

std::optional<size_t> TableContext::findRow(uint32_t rowId) const {
    auto i = index_->findUint(rowId);
    if (!i) return std::nullopt;
    return size_t(*i);
}

uint32_t TableContext::rowIdAt(size_t index) const {
    return Get32(readRow(index), 0);
}

std::vector<PropertyValue> TableContext::row(size_t index) const {
    auto bytes = readRow(index);
    std::vector<PropertyValue> out;
    for (const auto& c : columns_) {
        if (present(bytes, c)) out.push_back(decode(bytes, c));
    }
    return out;
}

std::optional<PropertyValue> TableContext::cell(size_t index, uint32_t tag) const {
    const TcColumn* c = column(tag);
    if (c == nullptr) return std::nullopt;
    auto bytes = readRow(index);
    if (!present(bytes, *c)) return std::nullopt;
    return decode(bytes, *c);
}

std::optional<std::vector<PropertyValue>> TableContext::rowById(uint32_t rowId) const {
    auto index = findRow(rowId);
    if (!index) return std::nullopt;
    return row(*index);
}

std::vector<PropertyValue> TableContext::selectColumns(
    const std::vector<PropertyValue>& values) const {
    std::vector<PropertyValue> out;
    for (const auto& v : values) {
        if (v.tag() != kRowIdTag && column(v.tag()) != nullptr) out.push_back(v);
    }
    return out;
}

void TableContext::appendRow(uint32_t rowId, const std::vector<PropertyValue>& values) {
    if (index_->findUint(rowId))
        throw std::invalid_argument("TC: row id " + Hex(rowId) + " exists");
    // Everything is checked before anything is stored, so a refused row leaves nothing behind.
    for (const auto& v : values) {
        if (column(v.tag()) == nullptr) {
            throw std::invalid_argument("TC: no column " + Hex(v.tag()) + " for row " + Hex(rowId));
        }
        if (!v.isStream()) CheckValueBytes(v.tag(), v.bytes());
    }
    std::vector<uint8_t> row(rowSize_, 0);
    setCell(row, *column(kRowIdTag),
            PropertyValue(kRowIdTag, {uint8_t(rowId), uint8_t(rowId >> 8), uint8_t(rowId >> 16),
                                      uint8_t(rowId >> 24)}));
    setCell(row, *column(kRowVerTag), PropertyValue(kRowVerTag, {0, 0, 0, 0}));
    for (const auto& v : values) {
        if (v.tag() == kRowIdTag) continue;
        setCell(row, *column(v.tag()), v);
    }
    size_t index = rowCount_;
    pushRow(row);
    index_->putUint(rowId, index);
}

void TableContext::updateRow(uint32_t rowId, const std::vector<PropertyValue>& values) {
    auto index = findRow(rowId);
    if (!index) throw std::invalid_argument("TC: no row with id " + Hex(rowId));
    auto row = readRow(*index);
    for (const auto& v : values) {
        const TcColumn* c = column(v.tag());
        if (c == nullptr) throw std::invalid_argument("TC: no column " + Hex(v.tag()));
        if (v.tag() == kRowIdTag) throw std::invalid_argument("TC: the row id cannot change");
        setCell(row, *c, v);
    }
    writeRow(*index, row);
}

void TableContext::clearCells(uint32_t rowId, const std::vector<uint32_t>& tags) {
    auto index = findRow(rowId);
    if (!index) throw std::invalid_argument("TC: no row with id " + Hex(rowId));
    auto row = readRow(*index);
    for (uint32_t tag : tags) {
        const TcColumn* c = column(tag);
        if (c == nullptr) throw std::invalid_argument("TC: no column " + Hex(tag));
        if (tag == kRowIdTag) throw std::invalid_argument("TC: the row id cannot be cleared");
        clearCell(row, *c);
    }
    writeRow(*index, row);
}

bool TableContext::deleteRow(uint32_t rowId) {
    auto index = findRow(rowId);
    if (!index) return false;
    auto row = readRow(*index);
    for (const auto& c : columns_) {
        if (c.tag != kRowIdTag) clearCell(row, c);
    }
    size_t last = rowCount_ - 1;
    if (*index != last) {
        auto moved = readRow(last);
        writeRow(*index, moved);
        index_->putUint(Get32(moved, 0), *index);
    }
    index_->eraseUint(rowId);
    popRow();
    return true;
}

void TableContext::addColumn(uint32_t tag) {
    if (column(tag) != nullptr) return;
    if (columns_.size() >= 255) throw std::invalid_argument("TC: more than 255 columns");
    std::vector<uint8_t> old;
    old.reserve(rowCount_ * rowSize_);
    for (size_t p = 0; p < pages_.size(); ++p) {
        const auto& rows = page(p).rows;
        old.insert(old.end(), rows.begin(), rows.end());
    }
    const auto oldColumns = columns_;
    const uint16_t oldCeb = rgib_[2];
    const size_t oldSize = rowSize_;
    TcColumn added{tag, 0, CellSize(PropTypeOf(tag)), uint8_t(columns_.size())};
    columns_.insert(
        std::lower_bound(columns_.begin(), columns_.end(), added,
                         [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; }),
        added);
    layout();
    std::vector<uint8_t> all(rowCount_ * rowSize_, 0);
    for (size_t r = 0; r < rowCount_; ++r) {
        const uint8_t* from = old.data() + r * oldSize;
        uint8_t* to = all.data() + r * rowSize_;
        for (const auto& oc : oldColumns) {
            const TcColumn& nc = *column(oc.tag);
            std::copy(from + oc.ibData, from + oc.ibData + oc.cbData, to + nc.ibData);
            if (from[oldCeb + oc.iBit / 8] & (0x80 >> (oc.iBit % 8))) {
                to[rgib_[2] + nc.iBit / 8] |= uint8_t(0x80 >> (nc.iBit % 8));
            }
        }
    }
    rebuildMatrix(all);
}

ndb::Bid TableContext::write() {
    if (matrixDirty_) {
        if (rowCount_ == 0) {
            if (inSubnode_) subnodes_.erase(matrixNid_);
            if (!inSubnode_ && hnidRows_ != 0) heap_.free(hnidRows_);
            pages_.clear();
            inSubnode_ = false;
            hnidRows_ = 0;
            infoDirty_ = true;
        } else if (!inSubnode_) {
            Page& p = page(0);
            hnidRows_ = hnidRows_ == 0 ? heap_.allocate(p.rows) : heap_.replace(hnidRows_, p.rows);
            p.dirty = false;
            infoDirty_ = true;
        } else {
            std::vector<ndb::Bid> leaves(pages_.size());
            for (size_t i = 0; i < pages_.size(); ++i) {
                bool full = i + 1 < pages_.size();
                // A block that stopped or started being the last one changes its size.
                if (pages_[i].padded != full) page(i).dirty = true;
                Page& p = pages_[i];
                if (p.dirty || p.bid == 0) {
                    std::vector<uint8_t> block = p.rows;
                    if (full) block.resize(ndb::kMaxBlockData, 0);
                    p.bid = db_.writeBlock(block);
                    p.padded = full;
                    p.dirty = false;
                }
                // Keep only the last block in memory; the others are read again on demand.
                if (full) {
                    p.loaded = false;
                    p.rows.clear();
                    p.rows.shrink_to_fit();
                }
                leaves[i] = p.bid;
            }
            subnodes_[matrixNid_] = ndb::SubnodeEntry{db_.writeDataTree(leaves), 0};
            if (hnidRows_ != matrixNid_) {
                hnidRows_ = matrixNid_;
                infoDirty_ = true;
            }
        }
        matrixDirty_ = false;
    }
    if (infoDirty_) storeInfo();
    return heap_.write(db_);
}

}  // namespace pst::ltp
