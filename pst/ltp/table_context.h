#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ltp/value_store.h"
#include "pst/ndb/node_database.h"

namespace pst::ltp {

// One TCOLDESC: where a column's cell sits in a row and which CEB bit marks it present.
struct TcColumn {
    uint32_t tag = 0;
    uint16_t ibData = 0;
    uint8_t cbData = 0;
    uint8_t iBit = 0;
    friend bool operator==(const TcColumn&, const TcColumn&) = default;
};

// A table context: a heap (client signature 0x7C) holding TCINFO, a RowIndex BTH
// {row id -> row index} and the row matrix, kept in one heap item while it fits and otherwise
// in a subnode data tree whose blocks hold whole rows.
//
// Bound, like a PC, to the node's database and the caller's subnode map (same contract: put
// the node with Write()'s stream and the written map before the next commit). Changes stay in
// memory until Write(), so one object can take many appends per commit, over many commits. An
// append touches the last row block, the RowIndex path and the heap block taking the row's
// variable-size values, whatever the table's size. RowVer cells are 0 unless a value is given.
class TableContext {
  public:
    static constexpr uint32_t kRowIdTag = 0x67F20003;
    static constexpr uint32_t kRowVerTag = 0x67F30003;
    static constexpr ndb::Nid kRowMatrixNid = 0x3F;

    // A new table without rows. RowId and RowVer columns are added to `columnTags`.
    TableContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes,
                 std::span<const uint32_t> columnTags);
    // The table stored in the data stream `data`.
    TableContext(ndb::NodeDatabase& db, ndb::SubnodeMap& subnodes, ndb::Bid data);
    TableContext(const TableContext&) = delete;
    TableContext& operator=(const TableContext&) = delete;

    const std::vector<TcColumn>& Columns() const { return columns_; }
    bool HasColumn(uint32_t tag) const { return Column(tag) != nullptr; }
    size_t RowSize() const { return rowSize_; }
    size_t RowCount() const { return rowCount_; }
    // True once the row matrix lives in a subnode rather than the heap.
    bool RowsInSubnode() const { return inSubnode_; }

    std::optional<size_t> FindRow(uint32_t rowId) const;
    uint32_t RowIdAt(size_t index) const;
    // The present cells of a row (RowId and RowVer included), in column order.
    std::vector<PropertyValue> Row(size_t index) const;
    std::optional<PropertyValue> Cell(size_t index, uint32_t tag) const;
    // The row with this id; nullopt when there is none.
    std::optional<std::vector<PropertyValue>> RowById(uint32_t rowId) const;
    // The values that have a column here (same tag), e.g. a child's properties for its row.
    std::vector<PropertyValue> SelectColumns(const std::vector<PropertyValue>& values) const;

    // Appends a row; values whose tag is not a column are refused. Throws for a used row id.
    void AppendRow(uint32_t rowId, const std::vector<PropertyValue>& values);
    // The same for values held elsewhere, without copies of them.
    void AppendRowFrom(uint32_t rowId, std::span<const PropertyValue* const> values);
    // Sets the given cells of an existing row; other cells keep their values.
    void UpdateRow(uint32_t rowId, const std::vector<PropertyValue>& values);
    // Marks cells absent.
    void ClearCells(uint32_t rowId, const std::vector<uint32_t>& tags);
    // Removes a row; the last row takes its place. False when there is no such row.
    bool DeleteRow(uint32_t rowId);
    // Adds a column (absent in every existing row). Rewrites the row matrix, as the row layout
    // changes. No effect when the column exists.
    void AddColumn(uint32_t tag);

    // Writes what changed and returns the data stream; the matrix subnode entry in the caller's
    // map is updated too.
    ndb::Bid Write();

    const Heap& GetHeap() const { return heap_; }

  private:
    struct Page {
        ndb::Bid bid = 0;
        bool loaded = false;
        bool dirty = false;
        bool padded = false;  // stored as a full 8176-byte block
        std::vector<uint8_t> rows;
    };

    void ReadInfo();
    void StoreInfo();
    void Layout();
    const TcColumn* Column(uint32_t tag) const;
    size_t RowsPerPage() const;
    Page& GetPage(size_t p) const;
    std::vector<uint8_t> ReadRow(size_t index) const;
    void WriteRow(size_t index, std::span<const uint8_t> bytes);
    void PushRow(std::span<const uint8_t> bytes);
    void PopRow();
    void SetCell(std::vector<uint8_t>& row, const TcColumn& c, const PropertyValue& v);
    void ClearCell(std::vector<uint8_t>& row, const TcColumn& c);
    bool Present(std::span<const uint8_t> row, const TcColumn& c) const;
    PropertyValue Decode(std::span<const uint8_t> row, const TcColumn& c) const;
    void RebuildMatrix(const std::vector<uint8_t>& allRows);

    ndb::NodeDatabase& db_;
    ndb::SubnodeMap& subnodes_;
    Heap heap_;
    ValueStore values_;
    std::optional<BTree> index_;
    Hid info_ = 0;
    std::vector<TcColumn> columns_;
    uint16_t rgib_[4] = {0, 0, 0, 0};
    size_t rowSize_ = 0;
    uint32_t hnidRows_ = 0;
    size_t rowCount_ = 0;
    bool inSubnode_ = false;
    ndb::Nid matrixNid_ = kRowMatrixNid;
    mutable std::vector<Page> pages_;  // heap mode: at most one page, the heap item
    bool infoDirty_ = false;
    bool matrixDirty_ = false;
};

}  // namespace pst::ltp
