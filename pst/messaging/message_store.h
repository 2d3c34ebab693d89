#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pst/messaging/default_folders.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/message_content.h"
#include "pst/messaging/name_id_map.h"
#include "pst/ndb/node_database.h"

namespace pst::ltp {
class PropertyContext;
class TableContext;
}  // namespace pst::ltp

namespace pst::messaging {

class MessageValues;  // the values a message is written with (message_writer.cpp)

using ndb::Nid;

// What a folder's own property context and parent row say about it.
struct FolderInfo {
    Nid nid = 0;
    Nid parent = 0;
    std::string name;            // UTF-8
    std::string containerClass;  // empty when the folder has none
    uint32_t contentCount = 0;
    uint32_t unreadCount = 0;
    bool hasSubfolders = false;
};

// A message store (personal folders file) on a node database: folders, messages, the
// name-to-id map, and the bookkeeping that keeps parent tables in step with their children.
//
// Changes stay in memory or in uncommitted NDB blocks until Commit(); the tables of folders a
// session writes to are kept open between commits, so adding a message costs the same whatever
// the folder already holds. A store is used from one thread at a time.
class MessageStore {
  public:
    // Messages added between two automatic commits (0: commit only when asked). A commit ends
    // in three flushes to disk (~50 ms together on a busy disk) and its CPU no longer grows with
    // the folder. Measured on 100,000 small messages: 250 -> 6,750 msg/s, 500 -> 7,850,
    // 1000 -> 8,550, 2000 -> 8,980. At 1000 a kill loses at most 1000 messages, about 0.1 s
    // of small messages or 1.5 s of 200 KiB ones; beyond that the gain is within the noise.
    static constexpr uint32_t kDefaultAutoCommitInterval = 1000;

    // A new data file at `path` (missing, or an empty file) holding a new store, committed. The
    // name holds nothing until the store is whole.
    static std::unique_ptr<MessageStore> Create(const std::filesystem::path& path,
                                                std::string_view displayName);
    // An existing data file, opened for writing unless `readOnly`.
    static std::unique_ptr<MessageStore> Open(const std::filesystem::path& path,
                                              bool readOnly = false);
    // A new store on an empty node database; the nodes are written but not committed.
    static std::unique_ptr<MessageStore> CreateOn(std::unique_ptr<ndb::NodeDatabase> db,
                                                  std::string_view displayName);
    // The store a node database holds.
    static std::unique_ptr<MessageStore> OpenOn(std::unique_ptr<ndb::NodeDatabase> db);

    ~MessageStore();
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;

    // --- store ---
    std::string DisplayName() const;
    const StoreUid& Uid() const { return uid_; }
    // The 24-byte store-relative entry ID of a folder or message.
    std::vector<uint8_t> EntryId(Nid nid) const { return MakeEntryId(uid_, nid); }
    Nid RootFolder() const;
    Nid IpmSubtree() const;
    // Creates the missing default folders and the entries that make them default folders.
    // Calling it again changes nothing.
    void ValidateIpmTree();
    // A default folder, found through the store's entries; nothing when it is not set up.
    std::optional<Nid> GetDefaultFolder(DefaultFolder kind) const;

    // --- folders ---
    // A new folder. Throws FolderNameCollision when the parent already has a subfolder of that
    // name, letter case ignored.
    Nid CreateFolder(Nid parent, std::string_view name,
                     std::string_view containerClass = "IPF.Note");
    std::vector<FolderInfo> Subfolders(Nid folder) const;
    // The same folders' NIDs only, without reading each one's properties.
    std::vector<Nid> SubfolderNids(Nid folder) const;
    // Every folder below `top`, depth first in hierarchy-table order, with its path relative
    // to `top` (names joined with "\\").
    std::vector<std::pair<std::string, FolderInfo>> FolderTree(Nid top) const;
    std::optional<Nid> FindSubfolder(Nid parent, std::string_view name) const;
    FolderInfo GetFolderInfo(Nid folder) const;

    // --- messages ---
    // Adds a message to a folder and returns its NID.
    Nid AddMessage(Nid folder, const MessageContent& message);
    // The NIDs of a folder's messages, in contents-table order.
    std::vector<Nid> Messages(Nid folder) const;
    // A folder's contents-table rows (the columns a folder view shows, RowId first), in table
    // order: a listing without opening each message.
    std::vector<std::vector<PropertyValue>> ContentsRows(Nid folder) const;
    // A stored message with its recipients and attachments (embedded messages too); named
    // properties come back in `named`, attachment data always as bytes.
    MessageContent ReadMessage(Nid message) const;
    // The binary values the messages of `folder` hold for the named property `name`, one per
    // message that has it; read from each message's own properties only (no recipients, no
    // attachments), so the cost is a few blocks per message.
    std::vector<std::vector<uint8_t>> NamedBinaries(Nid folder, const PropertyName& name) const;

    // At least the bytes saving `message` alone and committing it adds to the data file's used
    // space: its own objects and the folder's tables and B-tree pages that the commit rewrites.
    static uint64_t AddedBytesBound(const MessageContent& message);
    // Where the data file ends, counting what is written but not committed; the tables still in
    // memory are written at the next commit.
    uint64_t EndOfFile() const { return db_->EndOfFile(); }
    // At least the bytes the next commit adds beyond EndOfFile() (the tables in memory).
    uint64_t PendingBytesBound() const;

    // --- transactions ---
    // Writes the open tables and commits the node database.
    void Commit();
    // Commits (unless read-only) and releases the file; the store is unusable afterwards.
    // Destroying a store without Close() drops the changes since the last commit.
    void Close();
    void SetAutoCommitInterval(uint32_t messages) { autoCommitInterval_ = messages; }
    uint32_t MessagesSinceCommit() const { return sinceCommit_; }

    const NameIdMap& GetNameIdMap() const { return names_; }
    const ndb::NodeDatabase& Database() const { return *db_; }
    ndb::NodeDatabase& Database() { return *db_; }

  private:
    struct Folder;
    explicit MessageStore(std::unique_ptr<ndb::NodeDatabase> db);

    void BuildNewStore(std::string_view displayName);
    void Load();
    Folder& GetFolder(Nid nid) const;
    ltp::TableContext& Hierarchy(Folder& f) const;
    ltp::TableContext& Contents(Folder& f) const;
    void IndexChildren(Folder& f) const;
    // Drops a folder's open tables; only for tables without unwritten changes.
    static void ReleaseTables(Folder& f);
    void RefreshRowInParent(Folder& f);
    Nid CreateFolderNodes(Nid parent, Nid nid, std::u16string_view name,
                          std::u16string_view containerClass);
    void SetFolderEntry(Nid folderPc, uint32_t tag, std::vector<uint8_t> value);
    std::optional<Nid> FolderFromEntry(const ltp::PropertyContext& pc, uint32_t tag) const;
    std::optional<Nid> ReceiveFolder(std::u16string_view messageClass) const;
    void SetReceiveFolder(std::u16string_view messageClass, Nid folder);
    ltp::PropertyContext& StorePc() const;
    // Writes a message (PC, recipients, attachments) and returns its node's data and subnodes;
    // `pcValues` receives the PC's values without streamed ones, for the contents row. An
    // embedded message is part of its attachment, not an object of the store.
    ndb::NodeEntry WriteMessage(Nid nid, const MessageContent& message, MessageValues& pcValues,
                                bool embedded = false);
    MessageContent ReadMessageNode(ndb::Bid data, ndb::Bid sub, int depth) const;
    // The row version of the next row written, in any table: one counter numbers them all, as
    // in Outlook's files. Tables read for writing raise it past the versions they hold.
    PropertyValue NextRowVersion();
    void NoteRowVersions(const ltp::TableContext& table) const;
    // Outlook's search folders learn of changes in the folders of the search domain through
    // the search management queue: an addition there is queued here and written at commit.
    void QueueSearchUpdate(uint16_t type, Nid parent, Nid child);
    void WriteSearchUpdates();

    std::unique_ptr<ndb::NodeDatabase> db_;
    StoreUid uid_{};
    NameIdMap names_;
    mutable std::map<Nid, std::unique_ptr<Folder>> folders_;
    mutable ndb::SubnodeMap storeSubnodes_;
    mutable std::unique_ptr<ltp::PropertyContext> storePc_;
    bool storeDirty_ = false;
    mutable uint32_t rowVersion_ = 0;
    std::set<uint32_t> searchDomain_;     // NID indexes of the folders in the search domain
    std::vector<uint8_t> searchUpdates_;  // queued, not yet written
    // Change keys of the messages this session writes: a replica GUID of the session's own and
    // a counter, so that no two changes anywhere share one.
    std::vector<uint8_t> changeReplica_;
    uint64_t changeCounter_ = 0;
    // FixedEpoch() as the store was opened: the time it writes and the seed of its GUIDs and
    // keys (random without it).
    std::optional<int64_t> fixedEpoch_;
    std::mt19937_64 random_;
    uint32_t autoCommitInterval_ = kDefaultAutoCommitInterval;
    uint32_t sinceCommit_ = 0;
    bool closed_ = false;
    bool readOnly_ = false;
};

}  // namespace pst::messaging
