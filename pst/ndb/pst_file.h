#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pst/ndb/allocation_map.h"
#include "pst/ndb/btree.h"
#include "pst/ndb/file_handle.h"
#include "pst/ndb/header.h"
#include "pst/ndb/new_block_set.h"
#include "pst/ndb/node_database.h"

namespace pst::ndb {

// The node database of a Unicode PST file (64-bit BREFs, 512-byte pages).
//
// Changes stay invisible to other readers of the file until commit(); a crash at any moment
// leaves the file as of the last commit. Destroying the object without commit() discards the
// changes of the open transaction (blocks already written are unreachable free space).
// Not thread-safe: even the const readers update the page cache.
class PstFile final : public NodeDatabase {
  public:
    enum class Mode { ReadOnly, ReadWrite };

    // A new, empty file laid out like a fresh data file (permute encoding, one allocation
    // interval: 271,360 bytes). Fails if the file exists and is not empty.
    static std::unique_ptr<PstFile> Create(const std::filesystem::path& path);
    // The same with another data encoding (tests and tools; new files use Permute).
    static std::unique_ptr<PstFile> Create(const std::filesystem::path& path, Encoding encoding);
    // Opens an existing Unicode file. Writing keeps the file's own encoding. Opening for
    // writing repairs the allocation maps of a file whose last commit was interrupted.
    static std::unique_ptr<PstFile> Open(const std::filesystem::path& path, Mode mode);
    // Create() when the file is missing or empty, else Open() for writing.
    static std::unique_ptr<PstFile> CreateOrOpen(const std::filesystem::path& path);

    ~PstFile() override;

    // --- NodeDatabase ---
    std::optional<NodeEntry> findNode(Nid nid) const override;
    std::vector<uint8_t> readBlock(Bid bid) const override;
    std::vector<Bid> dataBlocks(Bid data) const override;
    std::vector<uint8_t> readStream(Bid data) const override;
    uint64_t streamSize(Bid data) const override;
    SubnodeMap readSubnodes(Bid sub) const override;

    Bid writeBlock(std::span<const uint8_t> data) override;
    Bid writeDataTree(std::span<const Bid> leaves) override;
    // An empty stream is stored as one empty block, so the node still has a data block.
    Bid writeStream(std::span<const uint8_t> bytes) override;
    Bid writeSubnodes(const SubnodeMap& subnodes) override;
    void putNode(const NodeEntry& entry) override;
    void removeNode(Nid nid) override;
    Nid allocateNid(uint32_t type) override;
    void commit() override;

    // --- listing and header fields ---
    // Every node of the NBT in NID order (uncommitted changes included).
    void forEachNode(const std::function<void(const NodeEntry&)>& fn) const;
    // The BBT entry of a block (cRef counts the entry itself plus each reference).
    std::optional<BbtEntry> findBlock(Bid bid) const;

    const std::string& path() const { return file_.path(); }
    bool writable() const { return writable_; }
    Encoding encoding() const { return header_.encoding; }
    uint32_t dwUnique() const { return header_.dwUnique; }
    const std::array<uint32_t, 32>& rgnid() const { return header_.rgnid; }
    // File size as of the last commit (ibFileEof).
    uint64_t fileSize() const { return committed_.ibFileEof; }
    // Free bytes in the allocation maps (cbAMapFree), current transaction included.
    uint64_t freeBytes() const;
    // Levels above the leaves of the node and block B-trees (0: the root is a leaf).
    uint8_t nbtLevels() const { return nbt_.rootLevel(); }
    uint8_t bbtLevels() const { return bbt_.rootLevel(); }
    // True when Open() rebuilt the allocation maps after an interrupted commit.
    bool recoveredMaps() const { return recovered_; }

  private:
    PstFile(FileHandle file, bool writable);

    void loadTrees();
    void loadMaps();
    void rebuildMaps();
    void writeMapPages(uint64_t k, bool fresh);

    void requireWritable(const char* operation) const;
    void beginWrite();
    Bid nextBid(bool internal);
    Ib allocate(uint64_t bytes, bool pageAligned);
    Bid writeRawBlock(std::span<const uint8_t> bytes, bool internal);
    uint64_t readLimit() const;
    PageImage readPage(const Bref& ref, PageType type) const;
    BbtEntry blockEntry(Bid bid, const char* context) const;
    std::vector<uint8_t> readBlockData(Bid bid) const;

    void addRef(Bid bid, const std::string& context);
    void release(Bid bid);
    void drop(const BbtEntry& entry);
    void applyRefDeltas();
    void shiftRef(Bid bid, int32_t delta);
    void writeHeader(const Header& header);

    FileHandle file_;
    bool writable_ = false;
    bool recovered_ = false;
    Header header_;     // current state, uncommitted changes included
    Header committed_;  // as last written to the file
    mutable BTree<NbtTraits> nbt_;
    mutable BTree<BbtTraits> bbt_;
    AllocationMap amap_;
    uint64_t committedIntervals_ = 0;
    bool inTransaction_ = false;  // the header already says "maps invalid"
    bool mapsTouched_ = false;    // commit() began rewriting the maps
    bool changed_ = false;
    NewBlockSet newBlocks_;                             // written in this transaction
    std::vector<std::pair<Ib, uint64_t>> pendingFree_;  // committed space to free at commit
    // Reference count changes not yet put into the BBT. Rewriting a data tree adds a reference
    // to every leaf and dropping the old tree takes it away again; kept apart, the pair cancels
    // out instead of dirtying BBT pages all over the file at every commit.
    std::unordered_map<Bid, int32_t> refDelta_;
    // XBLOCKs of multi-XBLOCK streams written by this object, by their first leaf, so that
    // rewriting such a stream keeps the XBLOCKs whose leaves did not change.
    struct XBlockMemo {
        Bid xblock = 0;
        uint32_t lcbTotal = 0;
        std::vector<Bid> children;
        std::vector<uint16_t> sizes;  // cb of each child
        uint64_t used = 0;            // memoClock_ at the last write or reuse
    };
    static constexpr size_t kMaxXBlockMemos = 256;
    // B-tree pages each tree keeps in memory between commits (about 1 KiB each).
    static constexpr size_t kKeptTreePages = 4096;
    std::unordered_map<Bid, XBlockMemo> xblocks_;
    uint64_t memoClock_ = 0;
    // (used, key) of each memo write or reuse, oldest first: finds the memo to forget without
    // scanning them all.
    std::vector<std::pair<uint64_t, Bid>> memoAges_;
    std::vector<uint8_t> encoded_;  // an XBLOCK's bytes, reused from one to the next

    std::pair<Bid, uint64_t> writeXBlock(std::span<const Bid> chunk);
    void remember(XBlockMemo memo);
};

}  // namespace pst::ndb
