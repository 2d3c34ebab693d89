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
// the node with write()'s stream and the written map before the next commit). Changes stay in
// memory until write(), so one object can take many appends per commit, over many commits. An
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

    const std::vector<TcColumn>& columns() const { return columns_; }
    bool hasColumn(uint32_t tag) const { return column(tag) != nullptr; }
    size_t rowSize() const { return rowSize_; }
    size_t rowCount() const { return rowCount_; }
    // True once the row matrix lives in a subnode rather than the heap.
    bool rowsInSubnode() const { return inSubnode_; }

    std::optional<size_t> findRow(uint32_t rowId) const;
    uint32_t rowIdAt(size_t index) const;
    // The present cells of a row (RowId and RowVer included), in column order.
    std::vector<PropertyValue> row(size_t index) const;
    std::optional<PropertyValue> cell(size_t index, uint32_t tag) const;
    // The row with this id; nullopt when there is none.
    std::optional<std::vector<PropertyValue>> rowById(uint32_t rowId) const;
    // The values that have a column here (same tag), e.g. a child's properties for its row.
    std::vector<PropertyValue> selectColumns(const std::vector<PropertyValue>& values) const;

    // Appends a row; values whose tag is not a column are refused. Throws for a used row id.
    void appendRow(uint32_t rowId, const std::vector<PropertyValue>& values);
    // Sets the given cells of an existing row; other cells keep their values.
    void updateRow(uint32_t rowId, const std::vector<PropertyValue>& values);
    // Marks cells absent.
    void clearCells(uint32_t rowId, const std::vector<uint32_t>& tags);
    // Removes a row; the last row takes its place. False when there is no such row.
    bool deleteRow(uint32_t rowId);
    // Adds a column (absent in every existing row). Rewrites the row matrix, as the row layout
    // changes. No effect when the column exists.
    void addColumn(uint32_t tag);

    // Writes what changed and returns the data stream; the matrix subnode entry in the caller's
    // map is updated too.
    ndb::Bid write();

    const Heap& heap() const { return heap_; }

private:
    struct Page {
        ndb::Bid bid = 0;
        bool loaded = false;
        bool dirty = false;
        bool padded = false;  // stored as a full 8176-byte block
        std::vector<uint8_t> rows;
    };

    void readInfo();
    void storeInfo();
    void layout();
    const TcColumn* column(uint32_t tag) const;
    size_t rowsPerPage() const;
    Page& page(size_t p) const;
    std::vector<uint8_t> readRow(size_t index) const;
    void writeRow(size_t index, std::span<const uint8_t> bytes);
    void pushRow(std::span<const uint8_t> bytes);
    void popRow();
    void setCell(std::vector<uint8_t>& row, const TcColumn& c, const PropertyValue& v);
    void clearCell(std::vector<uint8_t>& row, const TcColumn& c);
    bool present(std::span<const uint8_t> row, const TcColumn& c) const;
    PropertyValue decode(std::span<const uint8_t> row, const TcColumn& c) const;
    void rebuildMatrix(const std::vector<uint8_t>& allRows);

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
