#include "pst/messaging/message_store.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "fs/utf8_path.h"
#include "pst/messaging/errors.h"
#include "pst/messaging/folder_name.h"
#include "pst/messaging/store_folder.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/file_handle.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"

namespace pst::messaging {
namespace {

std::array<uint8_t, 16> RandomGuid() {
    static std::random_device device;
    static std::mt19937_64 engine(
        (uint64_t(device()) << 32) ^ device() ^
        uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::array<uint8_t, 16> g{};
    for (int i = 0; i < 16; i += 8) {
        uint64_t v = engine();
        for (int k = 0; k < 8; ++k) g[i + k] = uint8_t(v >> (8 * k));
    }
    return g;
}

PropertyValue U16(uint32_t tag, std::u16string_view s) {
    return PropertyValue::String(tag, s);
}
PropertyValue Int(uint32_t tag, uint32_t v) {
    return PropertyValue::Int32(tag, int32_t(v));
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
        if (v.tag() == ltp::TableContext::kRowIdTag || v.tag() == ltp::TableContext::kRowVerTag)
            continue;
        if (table.hasColumn(v.tag())) row.push_back(v);
    }
    return row;
}

// Nothing is written to a file that is not a sound Unicode store. Cheap refusals first: a
// read-only or locked file, then the header (foreign, ANSI, truncated); then the node-database
// walk, which finds damaged pages and blocks (bad CRCs) anywhere in the file. A file left by an
// interrupted commit passes, and opening it for writing repairs its maps.
void RequireSoundForWriting(const std::filesystem::path& path) {
    { ndb::FileHandle probe(path, ndb::FileHandle::Access::ReadWrite); }
    ndb::PstFile::Open(path, ndb::PstFile::Mode::ReadOnly);
    const auto errors = ndb::VerifyFile(path);
    if (errors.empty()) return;
    std::string message = fs::Utf8FromPath(path) + ": " + errors[0];
    if (errors.size() > 1) message += " (and " + std::to_string(errors.size() - 1) + " more)";
    throw ndb::NdbError(message + "; nothing was written to it", ndb::NdbError::Cause::Damaged);
}

}  // namespace

MessageStore::MessageStore(std::unique_ptr<ndb::NodeDatabase> db) : db_(std::move(db)) {}
MessageStore::~MessageStore() = default;

std::unique_ptr<MessageStore> MessageStore::Create(const std::filesystem::path& path,
                                                   std::string_view displayName) {
    auto store = CreateOn(ndb::PstFile::Create(path), displayName);
    store->commit();
    return store;
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
    store->buildNewStore(displayName);
    return store;
}

std::unique_ptr<MessageStore> MessageStore::OpenOn(std::unique_ptr<ndb::NodeDatabase> db) {
    std::unique_ptr<MessageStore> store(new MessageStore(std::move(db)));
    store->load();
    return store;
}

// --- a new store -------------------------------------------------------------------------

void MessageStore::buildNewStore(std::string_view displayName) {
    ndb::NodeDatabase& db = *db_;
    if (db.findNode(nid::kMessageStore))
        throw MessagingError("cannot create a store: the file already holds a message store");
    uid_ = RandomGuid();

    auto putPc = [&db](Nid nid, Nid parent, const std::vector<PropertyValue>& values) {
        ndb::SubnodeMap sub;
        ndb::Bid data = ltp::PropertyContext::Write(db, sub, values);
        db.putNode({nid, data, db.writeSubnodes(sub), parent});
    };
    // Tables start empty; `rows` fill the few a new file has rows in.
    auto putTable =
        [&db](Nid nid, const std::vector<uint32_t>& columns,
              const std::vector<std::pair<uint32_t, std::vector<PropertyValue>>>& rows = {}) {
            ndb::SubnodeMap sub;
            ltp::TableContext tc(db, sub, columns);
            for (const auto& [rowId, values] : rows) tc.appendRow(rowId, values);
            ndb::Bid data = tc.write();
            db.putNode({nid, data, db.writeSubnodes(sub), 0});
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
    putTable(
        nid::kReceiveFolderTable, ReceiveFolderColumns(),
        {{1, {U16(tag::kReceiveFolderClass, u""), Int(tag::kReceiveFolderNid, nid::kRootFolder)}}});

    auto putFolder = [&](Nid nid, Nid parent, std::u16string_view name,
                         std::u16string_view containerClass, bool hasSubfolders) {
        auto values = FolderPcValues(name, containerClass);
        values[3] = PropertyValue::Bool(tag::kSubfolders, hasSubfolders);
        putPc(nid, parent, values);
        db.putNode({nid::HierarchyOf(nid), hierarchyTemplate, 0, 0});
        db.putNode({nid::ContentsOf(nid), contentsTemplate, 0, 0});
        db.putNode({nid::AssocContentsOf(nid), assocTemplate, 0, 0});
        return values;
    };

    // Root, and the folders a new data file has, with their rows in the parents' tables.
    putFolder(nid::kRootFolder, nid::kRootFolder, u"", u"", true);
    auto ipm =
        putFolder(nid::kIpmSubtree, nid::kRootFolder, u"Top of Outlook data file", u"", true);
    auto finder = putFolder(nid::kSearchRoot, nid::kRootFolder, u"Search Root", u"", false);
    auto deleted =
        putFolder(nid::kDeletedItems, nid::kIpmSubtree, u"Deleted Items", u"IPF.Note", false);
    auto views = putFolder(nid::kCommonViews, nid::kRootFolder, u"IPM_COMMON_VIEWS", u"", false);
    auto spam = FolderPcValues(u"SPAM Search Folder 2", u"");
    putPc(nid::kSpamSearchFolder, nid::kRootFolder, spam);
    db.putNode({nid::kSpamSearchUpdateQueue, 0, 0, 0});
    putPc(nid::kSpamSearchCriteria, 0, {Int(0x660B0003, 0)});
    db.putNode({nid::kSpamSearchContents, searchTemplate, 0, 0});

    {
        ndb::SubnodeMap sub;
        ltp::TableContext root(db, sub, HierarchyColumns());
        root.appendRow(nid::kIpmSubtree, RowValues(root, ipm));
        root.appendRow(nid::kSearchRoot, RowValues(root, finder));
        root.appendRow(nid::kSpamSearchFolder, RowValues(root, spam));
        root.appendRow(nid::kCommonViews, RowValues(root, views));
        db.putNode({nid::HierarchyOf(nid::kRootFolder), root.write(), db.writeSubnodes(sub), 0});
    }
    {
        ndb::SubnodeMap sub;
        ltp::TableContext top(db, sub, HierarchyColumns());
        top.appendRow(nid::kDeletedItems, RowValues(top, deleted));
        db.putNode({nid::HierarchyOf(nid::kIpmSubtree), top.write(), db.writeSubnodes(sub), 0});
    }

    // Search bookkeeping: an empty management queue, the activity list naming the spam
    // folder, an empty search domain.
    db.putNode({nid::kSearchManagementQueue, 0, 0, 0});
    const uint8_t sal[4] = {uint8_t(nid::kSpamSearchFolder), uint8_t(nid::kSpamSearchFolder >> 8),
                            0, 0};
    db.putNode({nid::kSearchActivityList, db.writeBlock(sal), 0, 0});
    db.putNode({nid::kSearchDomainObject, 0, 0, 0});

    names_ = NameIdMap::Prefilled();
    putPc(nid::kNameToIdMap, 0, names_.toProperties());

    std::vector<uint8_t> replica{1, 0, 0, 0};
    auto replicaGuid = RandomGuid();
    replica.insert(replica.end(), replicaGuid.begin(), replicaGuid.end());
    replica.insert(replica.end(), {1, 0, 0, 0});
    putPc(nid::kMessageStore, 0,
          {PropertyValue(0x0E340102, replica), Int(0x0E380003, 0),
           PropertyValue::Binary(tag::kRecordKey, uid_),
           PropertyValue::StringUtf8(tag::kDisplayName, displayName),
           Int(tag::kValidFolderMask,
               kMaskIpmSubtree | kMaskWastebasket | kMaskCommonViews | kMaskFinder),
           PropertyValue(tag::kIpmSubtreeEntryId, entryId(nid::kIpmSubtree)),
           PropertyValue(tag::kIpmWastebasketEntryId, entryId(nid::kDeletedItems)),
           PropertyValue(tag::kCommonViewsEntryId, entryId(nid::kCommonViews)),
           PropertyValue(tag::kFinderEntryId, entryId(nid::kSearchRoot)),
           PropertyValue::Bool(0x6633000B, true), Int(0x66FA0003, 0xE0011),
           Int(tag::kPstPassword, 0)});
}

void MessageStore::load() {
    if (!db_->findNode(nid::kMessageStore))
        throw MessagingError("not a message store: node 0x21 (message store) is missing");
    auto record = storePc().get(PropIdOf(tag::kRecordKey));
    if (!record || record->bytes().size() != 16)
        throw MessagingError("message store has no 16-byte record key (0x0FF90102)");
    std::copy(record->bytes().begin(), record->bytes().end(), uid_.begin());
    auto map = db_->findNode(nid::kNameToIdMap);
    if (!map) throw MessagingError("not a message store: node 0x61 (name-to-id map) is missing");
    ndb::SubnodeMap sub = db_->readSubnodes(map->sub);
    ltp::PropertyContext pc(*db_, sub, map->data);
    names_ = NameIdMap::FromProperties(pc.getAll());
}

ltp::PropertyContext& MessageStore::storePc() const {
    if (!storePc_) {
        auto node = db_->findNode(nid::kMessageStore);
        if (!node) throw MessagingError("node 0x21 (message store) is missing");
        storeSubnodes_ = db_->readSubnodes(node->sub);
        storePc_ = std::make_unique<ltp::PropertyContext>(*db_, storeSubnodes_, node->data);
    }
    return *storePc_;
}

std::string MessageStore::displayName() const {
    auto v = storePc().get(PropIdOf(tag::kDisplayName));
    return v ? v->asUtf8() : std::string();
}

Nid MessageStore::rootFolder() const {
    return nid::kRootFolder;
}

Nid MessageStore::ipmSubtree() const {
    auto nid = folderFromEntry(storePc(), tag::kIpmSubtreeEntryId);
    if (!nid) throw MessagingError("message store has no IPM subtree entry (0x35E00102)");
    return *nid;
}

// --- folders -----------------------------------------------------------------------------

MessageStore::Folder& MessageStore::folder(Nid nid) const {
    auto it = folders_.find(nid);
    if (it != folders_.end()) return *it->second;
    const uint32_t type = ndb::NidTypeOf(nid);
    if (type != ndb::kNidTypeNormalFolder && type != ndb::kNidTypeSearchFolder)
        throw MessagingError("NID " + ndb::Hex(nid) + " is not a folder");
    auto node = db_->findNode(nid);
    if (!node) throw MessagingError("folder " + ndb::Hex(nid) + " does not exist");
    auto f = std::make_unique<Folder>();
    f->nid = nid;
    f->parent = node->parent;
    f->pcSubnodes = db_->readSubnodes(node->sub);
    f->pc = std::make_unique<ltp::PropertyContext>(*db_, f->pcSubnodes, node->data);
    return *folders_.emplace(nid, std::move(f)).first->second;
}

ltp::TableContext& MessageStore::hierarchy(Folder& f) const {
    if (!f.hierarchy) {
        auto node = db_->findNode(nid::HierarchyOf(f.nid));
        if (!node) throw MessagingError("folder " + ndb::Hex(f.nid) + " has no hierarchy table");
        f.hierarchySubnodes = db_->readSubnodes(node->sub);
        f.hierarchy = std::make_unique<ltp::TableContext>(*db_, f.hierarchySubnodes, node->data);
    }
    return *f.hierarchy;
}

ltp::TableContext& MessageStore::contents(Folder& f) const {
    if (!f.contents) {
        auto node = db_->findNode(nid::ContentsOf(f.nid));
        if (!node) throw MessagingError("folder " + ndb::Hex(f.nid) + " has no contents table");
        f.contentsSubnodes = db_->readSubnodes(node->sub);
        f.contents = std::make_unique<ltp::TableContext>(*db_, f.contentsSubnodes, node->data);
    }
    return *f.contents;
}

void MessageStore::releaseTables(Folder& f) {
    f.hierarchy.reset();
    f.hierarchySubnodes.clear();
    f.contents.reset();
    f.contentsSubnodes.clear();
}

void MessageStore::indexChildren(Folder& f) const {
    if (f.children) return;
    auto& table = hierarchy(f);
    f.children.emplace();
    for (size_t i = 0; i < table.rowCount(); ++i) {
        auto name = table.cell(i, tag::kDisplayName);
        f.children->emplace(FolderNameKey(name ? name->asString() : u""), table.rowIdAt(i));
    }
}

void MessageStore::refreshRowInParent(Folder& f) {
    if (f.parent == f.nid || f.parent == 0) return;  // the root has no row anywhere
    Folder& parent = folder(f.parent);
    auto& table = hierarchy(parent);
    auto values = RowValues(table, f.pc->getAll());
    if (table.findRow(f.nid))
        table.updateRow(f.nid, values);
    else
        table.appendRow(f.nid, values);
    parent.hierarchyDirty = true;
}

Nid MessageStore::createFolderNodes(Nid parentNid, Nid nid, std::u16string_view name,
                                    std::u16string_view containerClass) {
    Folder& parent = folder(parentNid);
    indexChildren(parent);
    const std::u16string key = FolderNameKey(name);
    if (parent.children->count(key))
        throw FolderNameCollision("folder \"" + Utf16ToUtf8(name) + "\" already exists in \"" +
                                  folderInfo(parentNid).name + "\"");

    // New folders share the templates' empty tables, as a new data file's folders do.
    for (auto [table, templ] : {std::pair{nid::HierarchyOf(nid), nid::kHierarchyTemplate},
                                {nid::ContentsOf(nid), nid::kContentsTemplate},
                                {nid::AssocContentsOf(nid), nid::kAssocContentsTemplate}}) {
        auto t = db_->findNode(templ);
        if (!t) throw MessagingError("template table " + ndb::Hex(templ) + " is missing");
        db_->putNode({table, t->data, t->sub, 0});
    }
    auto f = std::make_unique<Folder>();
    f->nid = nid;
    f->parent = parentNid;
    f->pc = std::make_unique<ltp::PropertyContext>(*db_, f->pcSubnodes);
    for (const auto& v : FolderPcValues(name, containerClass)) f->pc->set(v);
    f->pcDirty = true;
    f->children.emplace();
    Folder& created = *folders_.emplace(nid, std::move(f)).first->second;
    // The node exists from now on, so reads in this session find it.
    db_->putNode({nid, created.pc->write(), 0, parentNid});

    parent.children->emplace(key, nid);
    refreshRowInParent(created);
    auto hasSubfolders = parent.pc->get(PropIdOf(tag::kSubfolders));
    if (!hasSubfolders || !hasSubfolders->asBool()) {
        parent.pc->set(PropertyValue::Bool(tag::kSubfolders, true));
        parent.pcDirty = true;
        refreshRowInParent(parent);
    }
    return nid;
}

Nid MessageStore::createFolder(Nid parent, std::string_view name, std::string_view containerClass) {
    if (name.empty()) throw MessagingError("a folder name cannot be empty");
    if (ndb::NidTypeOf(parent) != ndb::kNidTypeNormalFolder)
        throw MessagingError("folders can only be created in normal folders");
    // The folder NID's index also names its three tables: all four must be free.
    Nid nid = 0;
    for (int tries = 0; tries < 1000 && nid == 0; ++tries) {
        Nid candidate = db_->allocateNid(ndb::kNidTypeNormalFolder);
        if (!db_->findNode(candidate) && !db_->findNode(nid::HierarchyOf(candidate)) &&
            !db_->findNode(nid::ContentsOf(candidate)) &&
            !db_->findNode(nid::AssocContentsOf(candidate)))
            nid = candidate;
    }
    if (nid == 0) throw MessagingError("no free folder NID");
    // The tables take the folder's index under their own types; keep those counters in step,
    // as Outlook does, so nothing allocated from them later can collide.
    for (Nid table : {nid::HierarchyOf(nid), nid::ContentsOf(nid), nid::AssocContentsOf(nid)}) {
        const uint32_t type = ndb::NidTypeOf(table);
        while (ndb::NidIndexOf(db_->allocateNid(type)) < ndb::NidIndexOf(nid)) continue;
    }
    return createFolderNodes(parent, nid, Utf8ToUtf16(name), Utf8ToUtf16(containerClass));
}

FolderInfo MessageStore::folderInfo(Nid nid) const {
    Folder& f = folder(nid);
    FolderInfo info;
    info.nid = nid;
    info.parent = f.parent;
    auto get = [&f](uint32_t t) { return f.pc->get(PropIdOf(t)); };
    if (auto v = get(tag::kDisplayName)) info.name = v->asUtf8();
    if (auto v = get(tag::kContainerClass)) info.containerClass = v->asUtf8();
    if (auto v = get(tag::kContentCount)) info.contentCount = uint32_t(v->asInt32());
    if (auto v = get(tag::kContentUnreadCount)) info.unreadCount = uint32_t(v->asInt32());
    if (auto v = get(tag::kSubfolders)) info.hasSubfolders = v->asBool();
    return info;
}

std::vector<Nid> MessageStore::subfolderNids(Nid nid) const {
    auto& table = hierarchy(folder(nid));
    std::vector<Nid> out;
    out.reserve(table.rowCount());
    for (size_t i = 0; i < table.rowCount(); ++i) out.push_back(table.rowIdAt(i));
    return out;
}

std::vector<FolderInfo> MessageStore::subfolders(Nid nid) const {
    auto& table = hierarchy(folder(nid));
    std::vector<FolderInfo> out;
    for (size_t i = 0; i < table.rowCount(); ++i) out.push_back(folderInfo(table.rowIdAt(i)));
    return out;
}

std::vector<std::pair<std::string, FolderInfo>> MessageStore::folderTree(Nid top) const {
    std::vector<std::pair<std::string, FolderInfo>> out;
    std::vector<std::pair<std::string, Nid>> pending{{"", top}};
    while (!pending.empty()) {
        auto [prefix, nid] = pending.back();
        pending.pop_back();
        auto children = subfolders(nid);
        // Reversed onto the stack so they come off in table order.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.emplace_back(prefix.empty() ? it->name : prefix + "\\" + it->name, it->nid);
        if (nid != top) out.emplace_back(prefix, folderInfo(nid));
    }
    return out;
}

std::optional<Nid> MessageStore::findSubfolder(Nid parent, std::string_view name) const {
    Folder& f = folder(parent);
    indexChildren(f);
    auto it = f.children->find(FolderNameKey(Utf8ToUtf16(name)));
    if (it == f.children->end()) return std::nullopt;
    return it->second;
}

// --- default folders ---------------------------------------------------------------------

std::optional<Nid> MessageStore::folderFromEntry(const ltp::PropertyContext& pc, uint32_t t) const {
    auto v = pc.get(PropIdOf(t));
    if (!v || v->tag() != t) return std::nullopt;
    auto nid = ParseEntryId(v->bytes(), uid_);
    if (!nid || !db_->findNode(*nid)) return std::nullopt;
    return nid;
}

std::optional<Nid> MessageStore::receiveFolder(std::u16string_view messageClass) const {
    auto node = db_->findNode(nid::kReceiveFolderTable);
    if (!node) return std::nullopt;
    ndb::SubnodeMap sub = db_->readSubnodes(node->sub);
    ltp::TableContext table(*db_, sub, node->data);
    for (size_t i = 0; i < table.rowCount(); ++i) {
        auto cls = table.cell(i, tag::kReceiveFolderClass);
        auto target = table.cell(i, tag::kReceiveFolderNid);
        if (cls && target && cls->asString() == messageClass) {
            Nid nid = Nid(target->asInt32());
            if (db_->findNode(nid)) return nid;
        }
    }
    return std::nullopt;
}

void MessageStore::setReceiveFolder(std::u16string_view messageClass, Nid target) {
    auto node = db_->findNode(nid::kReceiveFolderTable);
    ndb::SubnodeMap sub;
    std::unique_ptr<ltp::TableContext> table;
    if (node) {
        sub = db_->readSubnodes(node->sub);
        table = std::make_unique<ltp::TableContext>(*db_, sub, node->data);
    } else {
        table = std::make_unique<ltp::TableContext>(*db_, sub, ReceiveFolderColumns());
    }
    uint32_t nextRowId = 1;
    for (size_t i = 0; i < table->rowCount(); ++i) {
        nextRowId = std::max(nextRowId, table->rowIdAt(i) + 1);
        auto cls = table->cell(i, tag::kReceiveFolderClass);
        if (cls && cls->asString() == messageClass) {
            table->updateRow(table->rowIdAt(i), std::vector{Int(tag::kReceiveFolderNid, target)});
            db_->putNode({nid::kReceiveFolderTable, table->write(), db_->writeSubnodes(sub), 0});
            return;
        }
    }
    table->appendRow(nextRowId, std::vector{U16(tag::kReceiveFolderClass, messageClass),
                                            Int(tag::kReceiveFolderNid, target)});
    db_->putNode({nid::kReceiveFolderTable, table->write(), db_->writeSubnodes(sub), 0});
}

std::optional<Nid> MessageStore::defaultFolder(DefaultFolder kind) const {
    const DefaultFolderInfo& info = DefaultFolderOf(kind);
    if (kind == DefaultFolder::kInbox) return receiveFolder(u"IPM");
    if (info.storeTag) return folderFromEntry(storePc(), info.storeTag);
    auto inbox = receiveFolder(u"IPM");
    if (info.inboxTag) {
        if (inbox)
            if (auto nid = folderFromEntry(*folder(*inbox).pc, info.inboxTag)) return nid;
        return folderFromEntry(*folder(rootFolder()).pc, info.inboxTag);
    }
    if (info.junkIndex >= 0 && inbox) {
        auto v = folder(*inbox).pc->get(PropIdOf(tag::kAdditionalRenEntryIds));
        if (!v || v->tag() != tag::kAdditionalRenEntryIds || v->bytes().size() < 4)
            return std::nullopt;
        const auto& b = v->bytes();
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
        if (nid && db_->findNode(*nid)) return nid;
    }
    return std::nullopt;
}

void MessageStore::validateIpmTree() {
    const Nid ipm = ipmSubtree();
    auto ensure = [&](const DefaultFolderInfo& info) {
        if (auto existing = defaultFolder(info.kind)) return *existing;
        // A folder of that name not yet registered becomes the default folder.
        if (auto byName = findSubfolder(ipm, info.name)) return *byName;
        return createFolder(ipm, info.name, info.containerClass);
    };
    std::map<DefaultFolder, Nid> nids;
    for (const auto& info : DefaultFolders()) nids[info.kind] = ensure(info);

    const Nid inbox = nids[DefaultFolder::kInbox];
    for (const char16_t* cls : {u"", u"IPM", u"Report.IPM"})
        if (receiveFolder(cls) != inbox) setReceiveFolder(cls, inbox);
    if (receiveFolder(u"IPC") != rootFolder()) setReceiveFolder(u"IPC", rootFolder());

    auto& store = storePc();
    uint32_t mask = 0;
    if (auto v = store.get(PropIdOf(tag::kValidFolderMask))) mask = uint32_t(v->asInt32());
    uint32_t newMask = mask | kMaskIpmSubtree | kMaskFinder;
    for (const auto& info : DefaultFolders()) {
        const Nid nid = nids[info.kind];
        if (info.storeTag && folderFromEntry(store, info.storeTag) != nid) {
            store.set(PropertyValue(info.storeTag, entryId(nid)));
            storeDirty_ = true;
        }
        newMask |= info.validMaskBit;
        if (info.inboxTag) {
            for (Nid holder : {inbox, rootFolder()}) {
                Folder& f = folder(holder);
                if (folderFromEntry(*f.pc, info.inboxTag) != nid) {
                    f.pc->set(PropertyValue(info.inboxTag, entryId(nid)));
                    f.pcDirty = true;
                }
            }
        }
    }
    if (newMask != mask) {
        store.set(Int(tag::kValidFolderMask, newMask));
        storeDirty_ = true;
    }
    // Junk E-mail sits at its index among the additional special folders; the others stay
    // empty until a client creates them.
    if (defaultFolder(DefaultFolder::kJunkEmail) != nids[DefaultFolder::kJunkEmail]) {
        std::vector<std::vector<uint8_t>> ren(kJunkEmailRenIndex + 1);
        ren[kJunkEmailRenIndex] = entryId(nids[DefaultFolder::kJunkEmail]);
        for (Nid holder : {inbox, rootFolder()}) {
            Folder& f = folder(holder);
            f.pc->set(PropertyValue::MultiBinary(tag::kAdditionalRenEntryIds, ren));
            f.pcDirty = true;
        }
    }
}

// --- transactions ------------------------------------------------------------------------

void MessageStore::commit() {
    if (closed_) throw MessagingError("the store is closed");
    if (readOnly_) throw MessagingError("the store is open for reading only");
    for (auto& [nid, f] : folders_) {
        // Tables a whole commit interval left alone are let go (they are read again when
        // needed), so memory follows the folders being written to, not every folder seen.
        if (!f->pcDirty && !f->hierarchyDirty && !f->contentsDirty) {
            releaseTables(*f);
            continue;
        }
        if (f->pcDirty) {
            db_->putNode({nid, f->pc->write(), db_->writeSubnodes(f->pcSubnodes), f->parent});
            f->pcDirty = false;
        }
        if (f->hierarchyDirty) {
            db_->putNode({nid::HierarchyOf(nid), f->hierarchy->write(),
                          db_->writeSubnodes(f->hierarchySubnodes), 0});
            f->hierarchyDirty = false;
        }
        if (f->contentsDirty) {
            db_->putNode({nid::ContentsOf(nid), f->contents->write(),
                          db_->writeSubnodes(f->contentsSubnodes), 0});
            f->contentsDirty = false;
        }
    }
    if (storeDirty_ && storePc_) {
        db_->putNode(
            {nid::kMessageStore, storePc_->write(), db_->writeSubnodes(storeSubnodes_), 0});
        storeDirty_ = false;
    }
    if (names_.dirty()) {
        ndb::SubnodeMap sub;
        ndb::Bid data = ltp::PropertyContext::Write(*db_, sub, names_.toProperties());
        db_->putNode({nid::kNameToIdMap, data, db_->writeSubnodes(sub), 0});
        names_.markClean();
    }
    db_->commit();
    sinceCommit_ = 0;
}

void MessageStore::close() {
    if (closed_) return;
    if (!readOnly_) commit();
    closed_ = true;
    folders_.clear();
    storePc_.reset();
    db_.reset();
}

}  // namespace pst::messaging
