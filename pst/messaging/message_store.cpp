#include "pst/messaging/message_store.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <set>

#include "fs/file.h"
#include "fs/utf8_path.h"
#include "pst/messaging/errors.h"
#include "pst/messaging/folder_name.h"
#include "pst/messaging/internal_nodes.h"
#include "pst/messaging/reproducible.h"
#include "pst/messaging/store_folder.h"
#include "pst/messaging/store_verifier.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/file_handle.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"

namespace pst::messaging {
namespace {

std::array<uint8_t, 16> RandomGuid(std::mt19937_64& engine) {
    std::array<uint8_t, 16> g{};
    for (int i = 0; i < 16; i += 8) {
        uint64_t v = engine();
        for (int k = 0; k < 8; ++k) g[i + k] = uint8_t(v >> (8 * k));
    }
    return g;
}

uint64_t RandomSeed(bool fixed) {
    if (fixed) return 0x5EED5EED5EED5EEDull;
    std::random_device device;
    return (uint64_t(device()) << 32) ^ device() ^
           uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

PropertyValue U16(uint32_t tag, std::u16string_view s) {
    return PropertyValue::String(tag, s);
}
PropertyValue Int(uint32_t tag, uint32_t v) {
    return PropertyValue::Int32(tag, int32_t(v));
}

PropertyValue RowVersion(uint32_t v) {
    return Int(tag::kLtpRowVer, v);
}

template <typename... Extra>
std::vector<PropertyValue> With(std::vector<PropertyValue> values, Extra... extra) {
    (values.push_back(std::move(extra)), ...);
    return values;
}

std::vector<PropertyValue> FolderPcValues(std::u16string_view name,
                                          std::u16string_view containerClass) {
    std::vector<PropertyValue> v{U16(tag::kDisplayName, name), Int(tag::kContentCount, 0),
                                 Int(tag::kContentUnreadCount, 0),
                                 PropertyValue::Bool(tag::kSubfolders, false)};
    if (!containerClass.empty()) v.push_back(U16(tag::kContainerClass, containerClass));
    return v;
}

// The copies of a child's own values that its parent's table row carries.
std::vector<PropertyValue> RowValues(const ltp::TableContext& table,
                                     const std::vector<PropertyValue>& values) {
    std::vector<PropertyValue> row;
    for (const auto& v : values) {
        if (v.Tag() == ltp::TableContext::kRowIdTag || v.Tag() == ltp::TableContext::kRowVerTag)
            continue;
        if (table.HasColumn(v.Tag())) row.push_back(v);
    }
    return row;
}

// Nothing is written to a file that is not a sound Unicode store. Cheap refusals first: a
// read-only or locked file, then the header (foreign, ANSI, truncated); then the node-database
// walk, which finds damaged pages and blocks (bad CRCs) anywhere in the file; then the rules of
// the heaps, tables and store on everything an add reads or rewrites (store, name-to-id map,
// templates, folders and their tables). All before the first write, so a refused file is left
// as it was. A file left by an interrupted commit passes, and opening it for writing repairs
// its maps.
void RequireSoundForWriting(const std::filesystem::path& path) {
    { ndb::FileHandle probe(path, ndb::FileHandle::Access::ReadWrite); }
    auto refuse = [&path](const std::vector<std::string>& errors) {
        std::string message = fs::Utf8FromPath(path) + ": " + errors[0];
        if (errors.size() > 1) message += " (and " + std::to_string(errors.size() - 1) + " more)";
        throw ndb::NdbError(message + "; nothing was written to it", ndb::NdbError::Cause::Damaged);
    };
    ndb::PstFile::Open(path, ndb::PstFile::Mode::ReadOnly);
    const auto errors = ndb::VerifyFile(path);
    if (!errors.empty()) refuse(errors);
    const auto file = ndb::PstFile::Open(path, ndb::PstFile::Mode::ReadOnly);
    const StoreReport store = VerifyStoreForAdding(*file);
    if (!store.errors.empty()) refuse(store.errors);
}

}  // namespace

MessageStore::MessageStore(std::unique_ptr<ndb::NodeDatabase> db)
    : db_(std::move(db)), fixedEpoch_(FixedEpoch()), random_(RandomSeed(fixedEpoch_.has_value())) {}
MessageStore::~MessageStore() = default;

// A new file takes its name only once it holds a whole committed store: it is built beside it
// under a name of its own and then renamed, so a run killed while making it leaves nothing under
// the name that the next run would have to refuse as damaged. An empty file already there (made
// by the user) is checked for writing as before and replaced.
std::unique_ptr<MessageStore> MessageStore::Create(const std::filesystem::path& path,
                                                   std::string_view displayName) {
    using ndb::FileHandle;
    auto make = [displayName](const std::filesystem::path& at) {
        auto store = CreateOn(ndb::PstFile::Create(at), displayName);
        store->Commit();
        return store;
    };
    const std::string target = fs::Utf8FromPath(path);
    std::error_code ec;
    const bool emptyThere = std::filesystem::exists(path, ec);
    if (emptyThere) {
        FileHandle held(path, FileHandle::Access::ReadWrite);
        if (held.size() != 0) throw ndb::NdbError(target + " already exists and is not empty");
    }
    std::filesystem::path building = path;
    building += ".creating";
    try {
        // What a run killed while making this file left behind (an unfinished data file, its
        // header still zeros or written); anything else under that name is not ours and stays.
        FileHandle leftover(building, FileHandle::Access::Create);
        std::array<uint8_t, 4> magic{};
        if (leftover.size() >= magic.size()) leftover.ReadAt(0, magic);
        if (magic != std::array<uint8_t, 4>{} &&
            magic != std::array<uint8_t, 4>{'!', 'B', 'D', 'N'})
            throw ndb::NdbError(fs::Utf8FromPath(building) + " is in the way of making " + target);
        leftover.Truncate(0);
    } catch (const ndb::NdbError& e) {
        // A name too long for the file system with the extra ending: made in place as it is.
        if (e.FileKind() != fs::FileError::Kind::PathTooLong) throw;
        return make(path);
    }
    try {
        make(building)->Close();
    } catch (...) {
        std::filesystem::remove(building, ec);
        throw;
    }
    bool renamed = false;
    try {
        renamed = fs::RenameFile(fs::Utf8FromPath(building), target,
                                 emptyThere && std::filesystem::file_size(path, ec) == 0 && !ec);
    } catch (const fs::FileError& e) {
        std::filesystem::remove(building, ec);
        throw ndb::NdbError(target + ": create failed: " + e.what(), ndb::NdbError::Cause::File,
                            e.GetKind());
    }
    if (!renamed) {
        std::filesystem::remove(building, ec);
        throw ndb::NdbError(target + " already exists and is not empty");
    }
    return Open(path);
}

std::unique_ptr<MessageStore> MessageStore::Open(const std::filesystem::path& path, bool readOnly) {
    if (!readOnly) RequireSoundForWriting(path);
    auto store = OpenOn(ndb::PstFile::Open(
        path, readOnly ? ndb::PstFile::Mode::ReadOnly : ndb::PstFile::Mode::ReadWrite));
    store->readOnly_ = readOnly;
    return store;
}

std::unique_ptr<MessageStore> MessageStore::CreateOn(std::unique_ptr<ndb::NodeDatabase> db,
                                                     std::string_view displayName) {
    std::unique_ptr<MessageStore> store(new MessageStore(std::move(db)));
    store->BuildNewStore(displayName);
    return store;
}

std::unique_ptr<MessageStore> MessageStore::OpenOn(std::unique_ptr<ndb::NodeDatabase> db) {
    std::unique_ptr<MessageStore> store(new MessageStore(std::move(db)));
    store->Load();
    return store;
}

// --- a new store -------------------------------------------------------------------------

void MessageStore::BuildNewStore(std::string_view displayName) {
    ndb::NodeDatabase& db = *db_;
    if (db.FindNode(nid::kMessageStore))
        throw MessagingError("cannot create a store: the file already holds a message store");
    uid_ = RandomGuid(random_);

    auto putPc = [&db](Nid nid, Nid parent, const std::vector<PropertyValue>& values) {
        ndb::SubnodeMap sub;
        ndb::Bid data = ltp::PropertyContext::Write(db, sub, values);
        db.PutNode({nid, data, db.WriteSubnodes(sub), parent});
    };
    // Tables start empty; `rows` fill the few a new file has rows in.
    auto putTable =
        [&db](Nid nid, const std::vector<uint32_t>& columns,
              const std::vector<std::pair<uint32_t, std::vector<PropertyValue>>>& rows = {}) {
            ndb::SubnodeMap sub;
            ltp::TableContext tc(db, sub, columns);
            for (const auto& [rowId, values] : rows) tc.AppendRow(rowId, values);
            ndb::Bid data = tc.Write();
            db.PutNode({nid, data, db.WriteSubnodes(sub), 0});
            return data;
        };

    // Templates first: new folders share their empty tables.
    const ndb::Bid hierarchyTemplate = putTable(nid::kHierarchyTemplate, HierarchyColumns());
    const ndb::Bid contentsTemplate = putTable(nid::kContentsTemplate, ContentsColumns());
    const ndb::Bid assocTemplate = putTable(nid::kAssocContentsTemplate, AssocContentsColumns());
    const ndb::Bid searchTemplate = putTable(nid::kSearchContentsTemplate, SearchContentsColumns());
    putTable(nid::kAttachmentTemplate, AttachmentColumns());
    putTable(nid::kRecipientTemplate, RecipientColumns());
    putTable(nid::kOutgoingQueueTable, OutgoingQueueColumns());
    putTable(ndb::MakeNid(0x16, 0x35), Table6B6Columns());
    putTable(ndb::MakeNid(0x17, 0x36), Table6D7Columns());
    putTable(ndb::MakeNid(0x18, 0x37), Table6F8Columns());
    // Row versions as Outlook's new file has them; rows written later continue from the last.
    putTable(nid::kReceiveFolderTable, ReceiveFolderColumns(),
             {{1,
               {U16(tag::kReceiveFolderClass, u""), Int(tag::kReceiveFolderNid, nid::kRootFolder),
                RowVersion(2)}}});

    auto putFolder = [&](Nid nid, Nid parent, std::u16string_view name,
                         std::u16string_view containerClass, bool hasSubfolders) {
        auto values = FolderPcValues(name, containerClass);
        values[3] = PropertyValue::Bool(tag::kSubfolders, hasSubfolders);
        putPc(nid, parent, values);
        db.PutNode({nid::HierarchyOf(nid), hierarchyTemplate, 0, 0});
        db.PutNode({nid::ContentsOf(nid), contentsTemplate, 0, 0});
        db.PutNode({nid::AssocContentsOf(nid), assocTemplate, 0, 0});
        return values;
    };

    // Root, and the folders a new data file has, with their rows in the parents' tables.
    putFolder(nid::kRootFolder, nid::kRootFolder, u"", u"", true);
    auto ipm =
        putFolder(nid::kIpmSubtree, nid::kRootFolder, u"Top of Outlook data file", u"", true);
    // Outlook's new file has shown its top folder once, which added the preview column to that
    // folder's contents table (the other folders keep the template's columns).
    {
        std::vector<uint32_t> columns = ContentsColumns();
        columns.push_back(tag::kPstBodyPrefix);
        putTable(nid::ContentsOf(nid::kIpmSubtree), columns);
    }
    auto finder = putFolder(nid::kSearchRoot, nid::kRootFolder, u"Search Root", u"", false);
    auto deleted =
        putFolder(nid::kDeletedItems, nid::kIpmSubtree, u"Deleted Items", u"IPF.Note", false);
    auto views = putFolder(nid::kCommonViews, nid::kRootFolder, u"IPM_COMMON_VIEWS", u"", false);
    auto spam = FolderPcValues(u"SPAM Search Folder 2", u"");
    putPc(nid::kSpamSearchFolder, nid::kRootFolder, spam);
    db.PutNode({nid::kSpamSearchUpdateQueue, 0, 0, 0});
    putPc(nid::kSpamSearchCriteria, 0, {Int(0x660B0003, 0)});
    db.PutNode({nid::kSpamSearchContents, searchTemplate, 0, 0});

    {
        ndb::SubnodeMap sub;
        ltp::TableContext root(db, sub, HierarchyColumns());
        root.AppendRow(nid::kIpmSubtree, With(RowValues(root, ipm), RowVersion(15)));
        root.AppendRow(nid::kSearchRoot, With(RowValues(root, finder), RowVersion(6)));
        root.AppendRow(nid::kSpamSearchFolder, With(RowValues(root, spam), RowVersion(12)));
        root.AppendRow(nid::kCommonViews, With(RowValues(root, views), RowVersion(17)));
        db.PutNode({nid::HierarchyOf(nid::kRootFolder), root.Write(), db.WriteSubnodes(sub), 0});
    }
    {
        ndb::SubnodeMap sub;
        ltp::TableContext top(db, sub, HierarchyColumns());
        top.AppendRow(nid::kDeletedItems, With(RowValues(top, deleted), RowVersion(14)));
        db.PutNode({nid::HierarchyOf(nid::kIpmSubtree), top.Write(), db.WriteSubnodes(sub), 0});
    }

    // Search bookkeeping: an empty management queue, the activity list naming the spam
    // folder, an empty search domain.
    db.PutNode({nid::kSearchManagementQueue, 0, 0, 0});
    const uint8_t sal[4] = {uint8_t(nid::kSpamSearchFolder), uint8_t(nid::kSpamSearchFolder >> 8),
                            0, 0};
    db.PutNode({nid::kSearchActivityList, db.WriteBlock(sal), 0, 0});
    db.PutNode({nid::kSearchDomainObject, 0, 0, 0});
    PutNewStoreInternalNodes(db);
    rowVersion_ = 17;

    names_ = NameIdMap::Prefilled();
    putPc(nid::kNameToIdMap, 0, names_.ToProperties());

    std::vector<uint8_t> replica{1, 0, 0, 0};
    auto replicaGuid = RandomGuid(random_);
    replica.insert(replica.end(), replicaGuid.begin(), replicaGuid.end());
    replica.insert(replica.end(), {1, 0, 0, 0});
    putPc(nid::kMessageStore, 0,
          {PropertyValue(0x0E340102, replica), Int(0x0E380003, 0),
           PropertyValue::Binary(tag::kRecordKey, uid_),
           PropertyValue::StringUtf8(tag::kDisplayName, displayName),
           Int(tag::kValidFolderMask,
               kMaskIpmSubtree | kMaskWastebasket | kMaskCommonViews | kMaskFinder),
           PropertyValue(tag::kIpmSubtreeEntryId, EntryId(nid::kIpmSubtree)),
           PropertyValue(tag::kIpmWastebasketEntryId, EntryId(nid::kDeletedItems)),
           PropertyValue(tag::kCommonViewsEntryId, EntryId(nid::kCommonViews)),
           PropertyValue(tag::kFinderEntryId, EntryId(nid::kSearchRoot)),
           PropertyValue::Bool(0x6633000B, true), Int(0x66FA0003, 0xE0011),
           Int(tag::kPstPassword, 0)});
}

void MessageStore::Load() {
    if (!db_->FindNode(nid::kMessageStore))
        throw MessagingError("not a message store: node 0x21 (message store) is missing");
    auto record = StorePc().Get(PropIdOf(tag::kRecordKey));
    if (!record || record->Bytes().size() != 16)
        throw MessagingError("message store has no 16-byte record key (0x0FF90102)");
    std::copy(record->Bytes().begin(), record->Bytes().end(), uid_.begin());
    auto map = db_->FindNode(nid::kNameToIdMap);
    if (!map) throw MessagingError("not a message store: node 0x61 (name-to-id map) is missing");
    ndb::SubnodeMap sub = db_->ReadSubnodes(map->sub);
    ltp::PropertyContext pc(*db_, sub, map->data);
    names_ = NameIdMap::FromProperties(pc.GetAll());
    // The search domain lists folder NIDs; Outlook's own lists carry other type bits than the
    // folders', so folders are matched by their index.
    if (auto domain = db_->FindNode(nid::kSearchDomainObject); domain && domain->data) {
        const auto bytes = db_->ReadStream(domain->data);
        for (size_t at = 0; at + 4 <= bytes.size(); at += 4)
            searchDomain_.insert(ndb::NidIndexOf(bytes[at] | bytes[at + 1] << 8 |
                                                 bytes[at + 2] << 16 |
                                                 uint32_t(bytes[at + 3]) << 24));
    }
}

ltp::PropertyContext& MessageStore::StorePc() const {
    if (!storePc_) {
        auto node = db_->FindNode(nid::kMessageStore);
        if (!node) throw MessagingError("node 0x21 (message store) is missing");
        storeSubnodes_ = db_->ReadSubnodes(node->sub);
        storePc_ = std::make_unique<ltp::PropertyContext>(*db_, storeSubnodes_, node->data);
    }
    return *storePc_;
}

std::string MessageStore::DisplayName() const {
    auto v = StorePc().Get(PropIdOf(tag::kDisplayName));
    return v ? v->AsUtf8() : std::string();
}

Nid MessageStore::RootFolder() const {
    return nid::kRootFolder;
}

Nid MessageStore::IpmSubtree() const {
    auto nid = FolderFromEntry(StorePc(), tag::kIpmSubtreeEntryId);
    if (!nid) throw MessagingError("message store has no IPM subtree entry (0x35E00102)");
    return *nid;
}

// --- folders -----------------------------------------------------------------------------

MessageStore::Folder& MessageStore::GetFolder(Nid nid) const {
    auto it = folders_.find(nid);
    if (it != folders_.end()) return *it->second;
    const uint32_t type = ndb::NidTypeOf(nid);
    if (type != ndb::kNidTypeNormalFolder && type != ndb::kNidTypeSearchFolder)
        throw MessagingError("NID " + ndb::Hex(nid) + " is not a folder");
    auto node = db_->FindNode(nid);
    if (!node) throw MessagingError("folder " + ndb::Hex(nid) + " does not exist");
    auto f = std::make_unique<Folder>();
    f->nid = nid;
    f->parent = node->parent;
    f->pcSubnodes = db_->ReadSubnodes(node->sub);
    f->pc = std::make_unique<ltp::PropertyContext>(*db_, f->pcSubnodes, node->data);
    return *folders_.emplace(nid, std::move(f)).first->second;
}

ltp::TableContext& MessageStore::Hierarchy(Folder& f) const {
    if (!f.hierarchy) {
        auto node = db_->FindNode(nid::HierarchyOf(f.nid));
        if (!node) throw MessagingError("folder " + ndb::Hex(f.nid) + " has no hierarchy table");
        f.hierarchySubnodes = db_->ReadSubnodes(node->sub);
        f.hierarchy = std::make_unique<ltp::TableContext>(*db_, f.hierarchySubnodes, node->data);
        if (!readOnly_ && !f.hierarchyVersionsNoted) NoteRowVersions(*f.hierarchy);
        f.hierarchyVersionsNoted = true;
    }
    return *f.hierarchy;
}

ltp::TableContext& MessageStore::Contents(Folder& f) const {
    if (!f.contents) {
        auto node = db_->FindNode(nid::ContentsOf(f.nid));
        if (!node) throw MessagingError("folder " + ndb::Hex(f.nid) + " has no contents table");
        f.contentsSubnodes = db_->ReadSubnodes(node->sub);
        f.contents = std::make_unique<ltp::TableContext>(*db_, f.contentsSubnodes, node->data);
        if (!readOnly_ && !f.contentsVersionsNoted) NoteRowVersions(*f.contents);
        f.contentsVersionsNoted = true;
    }
    return *f.contents;
}

PropertyValue MessageStore::NextRowVersion() {
    return RowVersion(++rowVersion_);
}

void MessageStore::NoteRowVersions(const ltp::TableContext& table) const {
    for (size_t i = 0; i < table.RowCount(); ++i)
        if (auto v = table.Cell(i, tag::kLtpRowVer))
            rowVersion_ = std::max(rowVersion_, uint32_t(v->AsInt32()));
}

void MessageStore::QueueSearchUpdate(uint16_t type, Nid parent, Nid child) {
    if (!searchDomain_.count(ndb::NidIndexOf(parent))) return;
    // A 20-byte entry: flags, type, and the type's data (parent and child, 8 bytes unused).
    uint8_t entry[20] = {0, 0, uint8_t(type), uint8_t(type >> 8)};
    for (int k = 0; k < 4; ++k) {
        entry[4 + k] = uint8_t(parent >> (8 * k));
        entry[8 + k] = uint8_t(child >> (8 * k));
    }
    searchUpdates_.insert(searchUpdates_.end(), std::begin(entry), std::end(entry));
}

// The queue's full blocks stay as they are; the entries go after the last block's bytes, so a
// commit writes no more than its own entries whatever the queue already holds. The head (the
// node's parent field) stays where Outlook left it.
void MessageStore::WriteSearchUpdates() {
    const auto queue = db_->FindNode(nid::kSearchManagementQueue);
    if (searchUpdates_.empty() || !queue) return;
    std::vector<ndb::Bid> leaves;
    std::vector<uint8_t> tail;
    if (queue->data) {
        leaves = db_->DataBlocks(queue->data);
        if (auto last = db_->ReadBlock(leaves.back()); last.size() < ndb::kMaxBlockData) {
            tail = std::move(last);
            leaves.pop_back();
        }
    }
    tail.insert(tail.end(), searchUpdates_.begin(), searchUpdates_.end());
    for (size_t at = 0; at < tail.size(); at += ndb::kMaxBlockData)
        leaves.push_back(db_->WriteBlock(
            std::span(tail).subspan(at, std::min(ndb::kMaxBlockData, tail.size() - at))));
    db_->PutNode(
        {nid::kSearchManagementQueue, db_->WriteDataTree(leaves), queue->sub, queue->parent});
    searchUpdates_.clear();
}

void MessageStore::ReleaseTables(Folder& f) {
    f.hierarchy.reset();
    f.hierarchySubnodes.clear();
    f.contents.reset();
    f.contentsSubnodes.clear();
}

void MessageStore::IndexChildren(Folder& f) const {
    if (f.children) return;
    auto& table = Hierarchy(f);
    f.children.emplace();
    for (size_t i = 0; i < table.RowCount(); ++i) {
        auto name = table.Cell(i, tag::kDisplayName);
        f.children->emplace(FolderNameKey(name ? name->AsString() : u""), table.RowIdAt(i));
    }
}

void MessageStore::RefreshRowInParent(Folder& f) {
    if (f.parent == f.nid || f.parent == 0) return;  // the root has no row anywhere
    Folder& parent = GetFolder(f.parent);
    auto& table = Hierarchy(parent);
    auto values = With(RowValues(table, f.pc->GetAll()), NextRowVersion());
    if (table.FindRow(f.nid))
        table.UpdateRow(f.nid, values);
    else
        table.AppendRow(f.nid, values);
    parent.hierarchyDirty = true;
}

Nid MessageStore::CreateFolderNodes(Nid parentNid, Nid nid, std::u16string_view name,
                                    std::u16string_view containerClass) {
    Folder& parent = GetFolder(parentNid);
    IndexChildren(parent);
    const std::u16string key = FolderNameKey(name);
    if (parent.children->count(key))
        throw FolderNameCollision("folder \"" + Utf16ToUtf8(name) + "\" already exists in \"" +
                                  GetFolderInfo(parentNid).name + "\"");

    // New folders share the templates' empty tables, as a new data file's folders do.
    for (auto [table, templ] : {std::pair{nid::HierarchyOf(nid), nid::kHierarchyTemplate},
                                {nid::ContentsOf(nid), nid::kContentsTemplate},
                                {nid::AssocContentsOf(nid), nid::kAssocContentsTemplate}}) {
        auto t = db_->FindNode(templ);
        if (!t) throw MessagingError("template table " + ndb::Hex(templ) + " is missing");
        db_->PutNode({table, t->data, t->sub, 0});
    }
    auto f = std::make_unique<Folder>();
    f->nid = nid;
    f->parent = parentNid;
    f->pc = std::make_unique<ltp::PropertyContext>(*db_, f->pcSubnodes);
    for (const auto& v : FolderPcValues(name, containerClass)) f->pc->Set(v);
    f->pcDirty = true;
    f->children.emplace();
    Folder& created = *folders_.emplace(nid, std::move(f)).first->second;
    // The node exists from now on, so reads in this session find it.
    db_->PutNode({nid, created.pc->Write(), 0, parentNid});

    parent.children->emplace(key, nid);
    RefreshRowInParent(created);
    QueueSearchUpdate(kSearchUpdateFolderAdded, parentNid, nid);
    auto hasSubfolders = parent.pc->Get(PropIdOf(tag::kSubfolders));
    if (!hasSubfolders || !hasSubfolders->AsBool()) {
        parent.pc->Set(PropertyValue::Bool(tag::kSubfolders, true));
        parent.pcDirty = true;
        RefreshRowInParent(parent);
    }
    return nid;
}

Nid MessageStore::CreateFolder(Nid parent, std::string_view name, std::string_view containerClass) {
    if (name.empty()) throw MessagingError("a folder name cannot be empty");
    if (ndb::NidTypeOf(parent) != ndb::kNidTypeNormalFolder)
        throw MessagingError("folders can only be created in normal folders");
    // The folder NID's index also names its three tables: all four must be free.
    Nid nid = 0;
    for (int tries = 0; tries < 1000 && nid == 0; ++tries) {
        Nid candidate = db_->AllocateNid(ndb::kNidTypeNormalFolder);
        if (!db_->FindNode(candidate) && !db_->FindNode(nid::HierarchyOf(candidate)) &&
            !db_->FindNode(nid::ContentsOf(candidate)) &&
            !db_->FindNode(nid::AssocContentsOf(candidate)))
            nid = candidate;
    }
    if (nid == 0) throw MessagingError("no free folder NID");
    // The tables take the folder's index under their own types; keep those counters in step,
    // as Outlook does, so nothing allocated from them later can collide.
    for (Nid table : {nid::HierarchyOf(nid), nid::ContentsOf(nid), nid::AssocContentsOf(nid)}) {
        const uint32_t type = ndb::NidTypeOf(table);
        while (ndb::NidIndexOf(db_->AllocateNid(type)) < ndb::NidIndexOf(nid)) continue;
    }
    return CreateFolderNodes(parent, nid, Utf8ToUtf16(name), Utf8ToUtf16(containerClass));
}

FolderInfo MessageStore::GetFolderInfo(Nid nid) const {
    Folder& f = GetFolder(nid);
    FolderInfo info;
    info.nid = nid;
    info.parent = f.parent;
    auto get = [&f](uint32_t t) { return f.pc->Get(PropIdOf(t)); };
    if (auto v = get(tag::kDisplayName)) info.name = v->AsUtf8();
    if (auto v = get(tag::kContainerClass)) info.containerClass = v->AsUtf8();
    if (auto v = get(tag::kContentCount)) info.contentCount = uint32_t(v->AsInt32());
    if (auto v = get(tag::kContentUnreadCount)) info.unreadCount = uint32_t(v->AsInt32());
    if (auto v = get(tag::kSubfolders)) info.hasSubfolders = v->AsBool();
    return info;
}

// A hierarchy row counts as a subfolder only once, and only when the folder it names has this
// folder as its parent: a damaged file whose rows lead back up the tree (or to the folder
// itself) is then still listed as a tree, and walking it ends.
std::vector<Nid> MessageStore::SubfolderNids(Nid nid) const {
    auto& table = Hierarchy(GetFolder(nid));
    std::vector<Nid> out;
    out.reserve(table.RowCount());
    std::set<Nid> seen;
    for (size_t i = 0; i < table.RowCount(); ++i) {
        const Nid child = table.RowIdAt(i);
        if (child == nid || !seen.insert(child).second) continue;
        auto node = db_->FindNode(child);
        if (node && node->parent == nid) out.push_back(child);
    }
    return out;
}

std::vector<FolderInfo> MessageStore::Subfolders(Nid nid) const {
    std::vector<FolderInfo> out;
    for (Nid child : SubfolderNids(nid)) out.push_back(GetFolderInfo(child));
    return out;
}

std::vector<std::pair<std::string, FolderInfo>> MessageStore::FolderTree(Nid top) const {
    std::vector<std::pair<std::string, FolderInfo>> out;
    std::vector<std::pair<std::string, Nid>> pending{{"", top}};
    while (!pending.empty()) {
        auto [prefix, nid] = pending.back();
        pending.pop_back();
        auto children = Subfolders(nid);
        // Reversed onto the stack so they come off in table order.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.emplace_back(prefix.empty() ? it->name : prefix + "\\" + it->name, it->nid);
        if (nid != top) out.emplace_back(prefix, GetFolderInfo(nid));
    }
    return out;
}

std::optional<Nid> MessageStore::FindSubfolder(Nid parent, std::string_view name) const {
    Folder& f = GetFolder(parent);
    IndexChildren(f);
    auto it = f.children->find(FolderNameKey(Utf8ToUtf16(name)));
    if (it == f.children->end()) return std::nullopt;
    return it->second;
}

// --- default folders ---------------------------------------------------------------------

std::optional<Nid> MessageStore::FolderFromEntry(const ltp::PropertyContext& pc, uint32_t t) const {
    auto v = pc.Get(PropIdOf(t));
    if (!v || v->Tag() != t) return std::nullopt;
    auto nid = ParseEntryId(v->Bytes(), uid_);
    if (!nid || !db_->FindNode(*nid)) return std::nullopt;
    return nid;
}

std::optional<Nid> MessageStore::ReceiveFolder(std::u16string_view messageClass) const {
    auto node = db_->FindNode(nid::kReceiveFolderTable);
    if (!node) return std::nullopt;
    ndb::SubnodeMap sub = db_->ReadSubnodes(node->sub);
    ltp::TableContext table(*db_, sub, node->data);
    for (size_t i = 0; i < table.RowCount(); ++i) {
        auto cls = table.Cell(i, tag::kReceiveFolderClass);
        auto target = table.Cell(i, tag::kReceiveFolderNid);
        if (cls && target && cls->AsString() == messageClass) {
            Nid nid = Nid(target->AsInt32());
            if (db_->FindNode(nid)) return nid;
        }
    }
    return std::nullopt;
}

void MessageStore::SetReceiveFolder(std::u16string_view messageClass, Nid target) {
    auto node = db_->FindNode(nid::kReceiveFolderTable);
    ndb::SubnodeMap sub;
    std::unique_ptr<ltp::TableContext> table;
    if (node) {
        sub = db_->ReadSubnodes(node->sub);
        table = std::make_unique<ltp::TableContext>(*db_, sub, node->data);
        NoteRowVersions(*table);
    } else {
        table = std::make_unique<ltp::TableContext>(*db_, sub, ReceiveFolderColumns());
    }
    uint32_t nextRowId = 1;
    for (size_t i = 0; i < table->RowCount(); ++i) {
        nextRowId = std::max(nextRowId, table->RowIdAt(i) + 1);
        auto cls = table->Cell(i, tag::kReceiveFolderClass);
        if (cls && cls->AsString() == messageClass) {
            table->UpdateRow(table->RowIdAt(i),
                             std::vector{Int(tag::kReceiveFolderNid, target), NextRowVersion()});
            db_->PutNode({nid::kReceiveFolderTable, table->Write(), db_->WriteSubnodes(sub), 0});
            return;
        }
    }
    table->AppendRow(nextRowId, std::vector{U16(tag::kReceiveFolderClass, messageClass),
                                            Int(tag::kReceiveFolderNid, target), NextRowVersion()});
    db_->PutNode({nid::kReceiveFolderTable, table->Write(), db_->WriteSubnodes(sub), 0});
}

std::optional<Nid> MessageStore::GetDefaultFolder(DefaultFolder kind) const {
    const DefaultFolderInfo& info = DefaultFolderOf(kind);
    if (kind == DefaultFolder::kInbox) return ReceiveFolder(u"IPM");
    if (info.storeTag) return FolderFromEntry(StorePc(), info.storeTag);
    auto inbox = ReceiveFolder(u"IPM");
    if (info.inboxTag) {
        if (inbox)
            if (auto nid = FolderFromEntry(*GetFolder(*inbox).pc, info.inboxTag)) return nid;
        return FolderFromEntry(*GetFolder(RootFolder()).pc, info.inboxTag);
    }
    if (info.junkIndex >= 0 && inbox) {
        auto v = GetFolder(*inbox).pc->Get(PropIdOf(tag::kAdditionalRenEntryIds));
        if (!v || v->Tag() != tag::kAdditionalRenEntryIds || v->Bytes().size() < 4)
            return std::nullopt;
        const auto& b = v->Bytes();
        auto get32 = [&b](size_t at) {
            return at + 4 > b.size() ? 0u
                                     : uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                                uint32_t(b[at + 3]) << 24);
        };
        const uint32_t count = get32(0);
        const size_t i = size_t(info.junkIndex);
        if (i >= count) return std::nullopt;
        const uint32_t from = get32(4 + 4 * i);
        const uint32_t to = i + 1 < count ? get32(8 + 4 * i) : uint32_t(b.size());
        if (from > to || to > b.size()) return std::nullopt;
        auto nid = ParseEntryId(std::span(b).subspan(from, to - from), uid_);
        if (nid && db_->FindNode(*nid)) return nid;
    }
    return std::nullopt;
}

void MessageStore::ValidateIpmTree() {
    const Nid ipm = IpmSubtree();
    auto ensure = [&](const DefaultFolderInfo& info) {
        if (auto existing = GetDefaultFolder(info.kind)) return *existing;
        // A folder of that name not yet registered becomes the default folder.
        if (auto byName = FindSubfolder(ipm, info.name)) return *byName;
        return CreateFolder(ipm, info.name, info.containerClass);
    };
    std::map<DefaultFolder, Nid> nids;
    for (const auto& info : DefaultFolders()) nids[info.kind] = ensure(info);

    const Nid inbox = nids[DefaultFolder::kInbox];
    for (const char16_t* cls : {u"", u"IPM", u"Report.IPM"})
        if (ReceiveFolder(cls) != inbox) SetReceiveFolder(cls, inbox);
    if (ReceiveFolder(u"IPC") != RootFolder()) SetReceiveFolder(u"IPC", RootFolder());

    // Entries are only ever added. A store or folder that already names a default folder keeps
    // what it names, even an entry this store cannot resolve (a data file Outlook filled from
    // a server mailbox carries the server's entry IDs): the folder then stays found by name.
    auto& store = StorePc();
    uint32_t mask = 0;
    if (auto v = store.Get(PropIdOf(tag::kValidFolderMask))) mask = uint32_t(v->AsInt32());
    uint32_t newMask = mask | kMaskIpmSubtree | kMaskFinder;
    auto addMissing = [](ltp::PropertyContext& pc, const PropertyValue& value) {
        if (pc.TagOf(value.Id())) return false;
        pc.Set(value);
        return true;
    };
    for (const auto& info : DefaultFolders()) {
        const Nid nid = nids[info.kind];
        if (info.storeTag) {
            storeDirty_ |= addMissing(store, PropertyValue(info.storeTag, EntryId(nid)));
            if (FolderFromEntry(store, info.storeTag)) newMask |= info.validMaskBit;
        } else {
            newMask |= info.validMaskBit;
        }
        if (info.inboxTag) {
            for (Nid holder : {inbox, RootFolder()}) {
                Folder& f = GetFolder(holder);
                f.pcDirty |= addMissing(*f.pc, PropertyValue(info.inboxTag, EntryId(nid)));
            }
        }
    }
    if (newMask != mask) {
        store.Set(Int(tag::kValidFolderMask, newMask));
        storeDirty_ = true;
    }
    // Junk E-mail sits at its index among the additional special folders; the others stay
    // empty until a client creates them.
    std::vector<std::vector<uint8_t>> ren(kJunkEmailRenIndex + 1);
    ren[kJunkEmailRenIndex] = EntryId(nids[DefaultFolder::kJunkEmail]);
    for (Nid holder : {inbox, RootFolder()}) {
        Folder& f = GetFolder(holder);
        f.pcDirty |=
            addMissing(*f.pc, PropertyValue::MultiBinary(tag::kAdditionalRenEntryIds, ren));
    }
}

// --- transactions ------------------------------------------------------------------------

void MessageStore::Commit() {
    if (closed_) throw MessagingError("the store is closed");
    if (readOnly_) throw MessagingError("the store is open for reading only");
    for (auto& [nid, f] : folders_) {
        // Tables a whole commit interval left alone are let go (they are read again when
        // needed), so memory follows the folders being written to, not every folder seen.
        if (!f->pcDirty && !f->hierarchyDirty && !f->contentsDirty) {
            ReleaseTables(*f);
            continue;
        }
        if (f->pcDirty) {
            db_->PutNode({nid, f->pc->Write(), db_->WriteSubnodes(f->pcSubnodes), f->parent});
            f->pcDirty = false;
        }
        if (f->hierarchyDirty) {
            db_->PutNode({nid::HierarchyOf(nid), f->hierarchy->Write(),
                          db_->WriteSubnodes(f->hierarchySubnodes), 0});
            f->hierarchyDirty = false;
        }
        if (f->contentsDirty) {
            db_->PutNode({nid::ContentsOf(nid), f->contents->Write(),
                          db_->WriteSubnodes(f->contentsSubnodes), 0});
            f->contentsDirty = false;
        }
    }
    if (storeDirty_ && storePc_) {
        db_->PutNode(
            {nid::kMessageStore, storePc_->Write(), db_->WriteSubnodes(storeSubnodes_), 0});
        storeDirty_ = false;
    }
    WriteSearchUpdates();
    if (names_.Dirty()) {
        ndb::SubnodeMap sub;
        ndb::Bid data = ltp::PropertyContext::Write(*db_, sub, names_.ToProperties());
        db_->PutNode({nid::kNameToIdMap, data, db_->WriteSubnodes(sub), 0});
        names_.MarkClean();
    }
    db_->Commit();
    sinceCommit_ = 0;
}

void MessageStore::Close() {
    if (closed_) return;
    if (!readOnly_) Commit();
    closed_ = true;
    folders_.clear();
    storePc_.reset();
    db_.reset();
}

}  // namespace pst::messaging
