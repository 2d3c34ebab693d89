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
// Changes stay invisible to other readers of the file until Commit(); a crash at any moment
// leaves the file as of the last commit. Destroying the object without Commit() discards the
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
    std::optional<NodeEntry> FindNode(Nid nid) const override;
    std::vector<uint8_t> ReadBlock(Bid bid) const override;
    std::vector<Bid> DataBlocks(Bid data) const override;
    std::vector<uint8_t> ReadStream(Bid data) const override;
    uint64_t StreamSize(Bid data) const override;
    SubnodeMap ReadSubnodes(Bid sub) const override;

    Bid WriteBlock(std::span<const uint8_t> data) override;
    Bid WriteDataTree(std::span<const Bid> leaves) override;
    // An empty stream is stored as one empty block, so the node still has a data block.
    Bid WriteStream(std::span<const uint8_t> bytes) override;
    Bid WriteSubnodes(const SubnodeMap& subnodes) override;
    void PutNode(const NodeEntry& entry) override;
    void RemoveNode(Nid nid) override;
    Nid AllocateNid(uint32_t type) override;
    void Commit() override;
    uint64_t EndOfFile() const override;

    // --- listing and header fields ---
    // Every node of the NBT in NID order (uncommitted changes included).
    void ForEachNode(const std::function<void(const NodeEntry&)>& fn) const;
    // The BBT entry of a block (cRef counts the entry itself plus each reference).
    std::optional<BbtEntry> FindBlock(Bid bid) const;

    const std::string& Path() const { return file_.Path(); }
    bool Writable() const { return writable_; }
    Encoding GetEncoding() const { return header_.encoding; }
    uint32_t DwUnique() const { return header_.dwUnique; }
    const std::array<uint32_t, 32>& Rgnid() const { return header_.rgnid; }
    // File size as of the last commit (ibFileEof).
    uint64_t FileSize() const { return committed_.ibFileEof; }
    // Free bytes in the allocation maps (cbAMapFree), current transaction included.
    uint64_t FreeBytes() const;
    // Levels above the leaves of the node and block B-trees (0: the root is a leaf).
    uint8_t NbtLevels() const { return nbt_.RootLevel(); }
    uint8_t BbtLevels() const { return bbt_.RootLevel(); }
    // True when Open() rebuilt the allocation maps after an interrupted commit.
    bool RecoveredMaps() const { return recovered_; }

  private:
    PstFile(FileHandle file, bool writable);

    void LoadTrees();
    void LoadMaps();
    void RebuildMaps();
    void RequireMapPages(uint64_t intervals) const;
    void WriteMapPages(uint64_t k, bool fresh);

    void RequireWritable(const char* operation) const;
    void BeginWrite();
    Bid NextBid(bool internal);
    Ib Allocate(uint64_t bytes, bool pageAligned);
    Bid WriteRawBlock(std::span<const uint8_t> bytes, bool internal);
    uint64_t ReadLimit() const;
    PageImage ReadPage(const Bref& ref, PageType type) const;
    BbtEntry BlockEntry(Bid bid, const char* context) const;
    std::vector<uint8_t> ReadBlockData(Bid bid) const;

    void AddRef(Bid bid, const std::string& context);
    void Release(Bid bid);
    void Drop(const BbtEntry& entry);
    void ApplyRefDeltas();
    void ShiftRef(Bid bid, int32_t delta);
    void WriteHeader(const Header& header);

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
    bool mapsTouched_ = false;    // Commit() began rewriting the maps
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

    std::pair<Bid, uint64_t> WriteXBlock(std::span<const Bid> chunk);
    void Remember(XBlockMemo memo);
};

}  // namespace pst::ndb
