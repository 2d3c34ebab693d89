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
    if (heap.ClientSig() != kClientSigTc) {
        throw std::runtime_error("TC: heap " + Hex(data) + " has client signature " +
                                 Hex(heap.ClientSig()) + ", not 0x7C");
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
    Layout();
    StoreInfo();
}

TableContext::TableContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes, ndb::Bid data)
    : db_(db), subnodes_(subnodes), heap_(LoadTcHeap(db, data)), values_(heap_, db, subnodes) {
    info_ = heap_.UserRoot();
    ReadInfo();
}

void TableContext::ReadInfo() {
    auto info = heap_.Read(info_);
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
    if (index_->KeySize() != kRowIndexKey || index_->DataSize() != kRowIndexData) {
        throw std::runtime_error("TC: RowIndex has key/data sizes " +
                                 std::to_string(index_->KeySize()) + "/" +
                                 std::to_string(index_->DataSize()) + ", not 4/4");
    }
    pages_.clear();
    rowCount_ = 0;
    inSubnode_ = false;
    if (hnidRows_ == 0) return;
    if (IsHid(hnidRows_)) {
        rowCount_ = heap_.ItemSize(hnidRows_) / rowSize_;
        pages_.push_back(Page{});
        return;
    }
    inSubnode_ = true;
    matrixNid_ = hnidRows_;
    auto it = subnodes_.find(hnidRows_);
    if (it == subnodes_.end()) {
        throw std::runtime_error("TC: row matrix subnode " + Hex(hnidRows_) + " is missing");
    }
    for (ndb::Bid b : db_.DataBlocks(it->second.data)) {
        Page p;
        p.bid = b;
        p.padded = true;
        pages_.push_back(std::move(p));
    }
    if (pages_.empty()) return;
    // Every block but the last holds a full set of rows; the last one tells the remainder.
    Page& last = pages_.back();
    last.rows = db_.ReadBlock(last.bid);
    last.padded = false;
    last.rows.resize(last.rows.size() / rowSize_ * rowSize_);
    last.loaded = true;
    rowCount_ = (pages_.size() - 1) * RowsPerPage() + last.rows.size() / rowSize_;
}

void TableContext::Layout() {
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

void TableContext::StoreInfo() {
    std::vector<uint8_t> info(kTcInfoHeader + 8 * columns_.size(), 0);
    info[0] = kTcInfoType;
    info[1] = uint8_t(columns_.size());
    for (int i = 0; i < 4; ++i) Put16(info, 2 + 2 * i, rgib_[i]);
    Put32(info, 10, index_->Header());
    Put32(info, 14, hnidRows_);
    for (size_t i = 0; i < columns_.size(); ++i) {
        size_t o = kTcInfoHeader + 8 * i;
        Put32(info, o, columns_[i].tag);
        Put16(info, o + 4, columns_[i].ibData);
        info[o + 6] = columns_[i].cbData;
        info[o + 7] = columns_[i].iBit;
    }
    info_ = info_ == 0 ? heap_.Allocate(info) : heap_.Replace(info_, info);
    heap_.SetUserRoot(info_);
    infoDirty_ = false;
}

const TcColumn* TableContext::Column(uint32_t tag) const {
    auto it = std::lower_bound(columns_.begin(), columns_.end(), tag,
                               [](const TcColumn& c, uint32_t t) { return c.tag < t; });
    return it != columns_.end() && it->tag == tag ? &*it : nullptr;
}

size_t TableContext::RowsPerPage() const {
    return inSubnode_ ? ndb::kMaxBlockData / rowSize_ : kMaxHeapItem / rowSize_;
}

TableContext::Page& TableContext::GetPage(size_t p) const {
    Page& pg = pages_.at(p);
    if (!pg.loaded) {
        if (inSubnode_) {
            pg.rows = db_.ReadBlock(pg.bid);
            // A padded block is a full one; an unpadded block ends at its last row.
            size_t rows = pg.padded ? RowsPerPage() : pg.rows.size() / rowSize_;
            pg.rows.resize(rows * rowSize_);
        } else {
            pg.rows = heap_.Read(hnidRows_);
        }
        pg.loaded = true;
    }
    return pg;
}

std::vector<uint8_t> TableContext::ReadRow(size_t index) const {
    if (index >= rowCount_) {
        throw std::out_of_range("TC: row " + std::to_string(index) + " of " +
                                std::to_string(rowCount_));
    }
    size_t rpp = RowsPerPage();
    const Page& p = GetPage(index / rpp);
    size_t off = index % rpp * rowSize_;
    return std::vector<uint8_t>(p.rows.begin() + off, p.rows.begin() + off + rowSize_);
}

void TableContext::WriteRow(size_t index, std::span<const uint8_t> bytes) {
    size_t rpp = RowsPerPage();
    Page& p = GetPage(index / rpp);
    std::copy(bytes.begin(), bytes.end(), p.rows.begin() + index % rpp * rowSize_);
    p.dirty = true;
    matrixDirty_ = true;
}

void TableContext::PushRow(std::span<const uint8_t> bytes) {
    if (!inSubnode_ && (rowCount_ + 1) * rowSize_ > kMaxHeapItem) {
        // Outgrowing one heap item: the matrix moves to a subnode data tree for good.
        std::vector<uint8_t> all;
        if (!pages_.empty()) all = GetPage(0).rows;
        all.insert(all.end(), bytes.begin(), bytes.end());
        RebuildMatrix(all);
        ++rowCount_;
        return;
    }
    if (pages_.empty() || GetPage(pages_.size() - 1).rows.size() / rowSize_ == RowsPerPage()) {
        Page p;
        p.loaded = true;
        pages_.push_back(std::move(p));
    }
    Page& last = GetPage(pages_.size() - 1);
    last.rows.insert(last.rows.end(), bytes.begin(), bytes.end());
    last.dirty = true;
    matrixDirty_ = true;
    ++rowCount_;
}

void TableContext::PopRow() {
    Page& last = GetPage(pages_.size() - 1);
    last.rows.resize(last.rows.size() - rowSize_);
    last.dirty = true;
    if (last.rows.empty()) pages_.pop_back();
    matrixDirty_ = true;
    --rowCount_;
}

void TableContext::RebuildMatrix(const std::vector<uint8_t>& all) {
    bool toSubnode = all.size() > kMaxHeapItem;
    if (!inSubnode_ && hnidRows_ != 0 && toSubnode) {
        heap_.Free(hnidRows_);
        hnidRows_ = 0;
    }
    if (inSubnode_ && !toSubnode) {
        subnodes_.erase(matrixNid_);
        hnidRows_ = 0;
    }
    inSubnode_ = toSubnode;
    pages_.clear();
    size_t per = RowsPerPage() * rowSize_;
    for (size_t off = 0; off < all.size(); off += per) {
        Page p;
        p.loaded = p.dirty = true;
        p.rows.assign(all.begin() + off, all.begin() + std::min(all.size(), off + per));
        pages_.push_back(std::move(p));
    }
    matrixDirty_ = true;
    infoDirty_ = true;
}

bool TableContext::Present(std::span<const uint8_t> row, const TcColumn& c) const {
    return (row[rgib_[2] + c.iBit / 8] & (0x80 >> (c.iBit % 8))) != 0;
}

void TableContext::SetCell(std::vector<uint8_t>& row, const TcColumn& c, const PropertyValue& v) {
    uint16_t type = PropTypeOf(c.tag);
    uint32_t stored = 0;
    if (IsHnidColumn(type)) {
        stored = values_.Store(v);
    } else {
        if (v.IsStream()) throw std::invalid_argument("TC: stream for column " + Hex(c.tag));
        CheckValueBytes(c.tag, v.Bytes());
    }
    ClearCell(row, c);
    if (IsHnidColumn(type)) {
        Put32(row, c.ibData, stored);
    } else {
        uint64_t x = GetLe(v.Bytes(), 0, v.Bytes().size());
        if (type == kPtypBoolean) x = x != 0 ? 1 : 0;
        PutLe(row, c.ibData, x, c.cbData);
    }
    row[rgib_[2] + c.iBit / 8] |= uint8_t(0x80 >> (c.iBit % 8));
}

void TableContext::ClearCell(std::vector<uint8_t>& row, const TcColumn& c) {
    if (!Present(row, c)) return;
    if (IsHnidColumn(PropTypeOf(c.tag))) values_.Release(Get32(row, c.ibData));
    std::fill(row.begin() + c.ibData, row.begin() + c.ibData + c.cbData, 0);
    row[rgib_[2] + c.iBit / 8] &= uint8_t(~(0x80 >> (c.iBit % 8)));
}

PropertyValue TableContext::Decode(std::span<const uint8_t> row, const TcColumn& c) const {
    uint16_t type = PropTypeOf(c.tag);
    if (IsHnidColumn(type)) return PropertyValue(c.tag, values_.Load(Get32(row, c.ibData)));
    return PropertyValue(c.tag, row.subspan(c.ibData, c.cbData));
}

std::optional<size_t> TableContext::FindRow(uint32_t rowId) const {
    auto i = index_->FindUint(rowId);
    if (!i) return std::nullopt;
    return size_t(*i);
}

uint32_t TableContext::RowIdAt(size_t index) const {
    return Get32(ReadRow(index), 0);
}

std::vector<PropertyValue> TableContext::Row(size_t index) const {
    auto bytes = ReadRow(index);
    std::vector<PropertyValue> out;
    for (const auto& c : columns_) {
        if (Present(bytes, c)) out.push_back(Decode(bytes, c));
    }
    return out;
}

std::optional<PropertyValue> TableContext::Cell(size_t index, uint32_t tag) const {
    const TcColumn* c = Column(tag);
    if (c == nullptr) return std::nullopt;
    auto bytes = ReadRow(index);
    if (!Present(bytes, *c)) return std::nullopt;
    return Decode(bytes, *c);
}

std::optional<std::vector<PropertyValue>> TableContext::RowById(uint32_t rowId) const {
    auto index = FindRow(rowId);
    if (!index) return std::nullopt;
    return Row(*index);
}

std::vector<PropertyValue> TableContext::SelectColumns(
    const std::vector<PropertyValue>& values) const {
    std::vector<PropertyValue> out;
    for (const auto& v : values) {
        if (v.Tag() != kRowIdTag && Column(v.Tag()) != nullptr) out.push_back(v);
    }
    return out;
}

void TableContext::AppendRow(uint32_t rowId, const std::vector<PropertyValue>& values) {
    std::vector<const PropertyValue*> pointers;
    pointers.reserve(values.size());
    for (const auto& v : values) pointers.push_back(&v);
    AppendRowFrom(rowId, pointers);
}

void TableContext::AppendRowFrom(uint32_t rowId, std::span<const PropertyValue* const> values) {
    if (index_->FindUint(rowId))
        throw std::invalid_argument("TC: row id " + Hex(rowId) + " exists");
    // Everything is checked before anything is stored, so a refused row leaves nothing behind.
    for (const PropertyValue* p : values) {
        const PropertyValue& v = *p;
        if (Column(v.Tag()) == nullptr) {
            throw std::invalid_argument("TC: no column " + Hex(v.Tag()) + " for row " + Hex(rowId));
        }
        if (!v.IsStream()) CheckValueBytes(v.Tag(), v.Bytes());
    }
    std::vector<uint8_t> row(rowSize_, 0);
    SetCell(row, *Column(kRowIdTag),
            PropertyValue(kRowIdTag, {uint8_t(rowId), uint8_t(rowId >> 8), uint8_t(rowId >> 16),
                                      uint8_t(rowId >> 24)}));
    SetCell(row, *Column(kRowVerTag), PropertyValue(kRowVerTag, {0, 0, 0, 0}));
    for (const PropertyValue* v : values) {
        if (v->Tag() == kRowIdTag) continue;
        SetCell(row, *Column(v->Tag()), *v);
    }
    size_t index = rowCount_;
    PushRow(row);
    index_->PutUint(rowId, index);
}

void TableContext::UpdateRow(uint32_t rowId, const std::vector<PropertyValue>& values) {
    auto index = FindRow(rowId);
    if (!index) throw std::invalid_argument("TC: no row with id " + Hex(rowId));
    auto row = ReadRow(*index);
    for (const auto& v : values) {
        const TcColumn* c = Column(v.Tag());
        if (c == nullptr) throw std::invalid_argument("TC: no column " + Hex(v.Tag()));
        if (v.Tag() == kRowIdTag) throw std::invalid_argument("TC: the row id cannot change");
        SetCell(row, *c, v);
    }
    WriteRow(*index, row);
}

void TableContext::ClearCells(uint32_t rowId, const std::vector<uint32_t>& tags) {
    auto index = FindRow(rowId);
    if (!index) throw std::invalid_argument("TC: no row with id " + Hex(rowId));
    auto row = ReadRow(*index);
    for (uint32_t tag : tags) {
        const TcColumn* c = Column(tag);
        if (c == nullptr) throw std::invalid_argument("TC: no column " + Hex(tag));
        if (tag == kRowIdTag) throw std::invalid_argument("TC: the row id cannot be cleared");
        ClearCell(row, *c);
    }
    WriteRow(*index, row);
}

bool TableContext::DeleteRow(uint32_t rowId) {
    auto index = FindRow(rowId);
    if (!index) return false;
    auto row = ReadRow(*index);
    for (const auto& c : columns_) {
        if (c.tag != kRowIdTag) ClearCell(row, c);
    }
    size_t last = rowCount_ - 1;
    if (*index != last) {
        auto moved = ReadRow(last);
        WriteRow(*index, moved);
        index_->PutUint(Get32(moved, 0), *index);
    }
    index_->EraseUint(rowId);
    PopRow();
    return true;
}

void TableContext::AddColumn(uint32_t tag) {
    if (Column(tag) != nullptr) return;
    if (columns_.size() >= 255) throw std::invalid_argument("TC: more than 255 columns");
    std::vector<uint8_t> old;
    old.reserve(rowCount_ * rowSize_);
    for (size_t p = 0; p < pages_.size(); ++p) {
        const auto& rows = GetPage(p).rows;
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
    Layout();
    std::vector<uint8_t> all(rowCount_ * rowSize_, 0);
    for (size_t r = 0; r < rowCount_; ++r) {
        const uint8_t* from = old.data() + r * oldSize;
        uint8_t* to = all.data() + r * rowSize_;
        for (const auto& oc : oldColumns) {
            const TcColumn& nc = *Column(oc.tag);
            std::copy(from + oc.ibData, from + oc.ibData + oc.cbData, to + nc.ibData);
            if (from[oldCeb + oc.iBit / 8] & (0x80 >> (oc.iBit % 8))) {
                to[rgib_[2] + nc.iBit / 8] |= uint8_t(0x80 >> (nc.iBit % 8));
            }
        }
    }
    RebuildMatrix(all);
}

ndb::Bid TableContext::Write() {
    if (matrixDirty_) {
        if (rowCount_ == 0) {
            if (inSubnode_) subnodes_.erase(matrixNid_);
            if (!inSubnode_ && hnidRows_ != 0) heap_.Free(hnidRows_);
            pages_.clear();
            inSubnode_ = false;
            hnidRows_ = 0;
            infoDirty_ = true;
        } else if (!inSubnode_) {
            Page& p = GetPage(0);
            hnidRows_ = hnidRows_ == 0 ? heap_.Allocate(p.rows) : heap_.Replace(hnidRows_, p.rows);
            p.dirty = false;
            infoDirty_ = true;
        } else {
            std::vector<ndb::Bid> leaves(pages_.size());
            for (size_t i = 0; i < pages_.size(); ++i) {
                bool full = i + 1 < pages_.size();
                // A block that stopped or started being the last one changes its size.
                if (pages_[i].padded != full) GetPage(i).dirty = true;
                Page& p = pages_[i];
                if (p.dirty || p.bid == 0) {
                    std::vector<uint8_t> block = p.rows;
                    if (full) block.resize(ndb::kMaxBlockData, 0);
                    p.bid = db_.WriteBlock(block);
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
            subnodes_[matrixNid_] = ndb::SubnodeEntry{db_.WriteDataTree(leaves), 0};
            if (hnidRows_ != matrixNid_) {
                hnidRows_ = matrixNid_;
                infoDirty_ = true;
            }
        }
        matrixDirty_ = false;
    }
    if (infoDirty_) StoreInfo();
    return heap_.Write(db_);
}

}  // namespace pst::ltp
