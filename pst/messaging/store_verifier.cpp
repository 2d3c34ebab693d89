#include "pst/messaging/store_verifier.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "pst/ltp/heap.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/verify.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/name_id_map.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/verify.h"

namespace pst::messaging {
namespace {

using ndb::Hex;

class Checker {
  public:
    // The PC and TC readers bind to a writable database; they only read here.
    explicit Checker(const ndb::PstFile& file)
        : file_(file), db_(const_cast<ndb::PstFile&>(file)) {}

    // `withMessages` false leaves out the messages (their nodes and rows): what adding to the
    // store reads and rewrites is checked, without the cost of the whole file.
    StoreReport Run(bool withMessages) {
        try {
            file_.ForEachNode([this](const ndb::NodeEntry& e) { nodes_[e.nid] = e; });
        } catch (const std::exception& e) {
            Error(std::string("node B-tree: ") + e.what());
            return std::move(report_);
        }
        CheckMandatoryNodes();
        CheckTemplates();
        CheckStore();
        CheckNameMap();
        for (const auto& [nid, e] : nodes_) {
            const uint32_t type = ndb::NidTypeOf(nid);
            if (type == ndb::kNidTypeNormalFolder) Guard(nid, [&] { CheckFolder(e); });
            if (type == ndb::kNidTypeNormalMessage && withMessages)
                Guard(nid, [&] { CheckMessage(e); });
        }
        CheckFolderChains();
        for (ndb::Nid queue : {nid::kSearchManagementQueue, nid::kSpamSearchUpdateQueue})
            if (auto it = nodes_.find(queue); it != nodes_.end()) CheckQueue(it->second);
        for (const auto& [nid, e] : nodes_) {
            const uint32_t type = ndb::NidTypeOf(nid);
            if (!withMessages &&
                (type == ndb::kNidTypeNormalMessage || type == ndb::kNidTypeAssocMessage))
                continue;
            Guard(nid, [&] {
                std::set<ndb::Bid> walked, path;
                CheckHeaps(nid, e.data, e.sub, "node " + Hex(nid), 0, walked, path);
            });
        }
        return std::move(report_);
    }

  private:
    void Error(const std::string& what) { report_.errors.push_back(what); }

    template <class F>
    void Guard(ndb::Nid nid, F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            Error("node " + Hex(nid) + ": " + e.what());
        }
    }

    const ndb::NodeEntry* Node(ndb::Nid nid) const {
        auto it = nodes_.find(nid);
        return it == nodes_.end() ? nullptr : &it->second;
    }

    struct Pc {
        ndb::SubnodeMap sub;
        std::unique_ptr<ltp::PropertyContext> pc;
    };
    struct Tc {
        ndb::SubnodeMap sub;
        std::unique_ptr<ltp::TableContext> tc;
    };
    std::unique_ptr<Pc> OpenPc(ndb::Bid data, ndb::Bid sub) {
        auto p = std::make_unique<Pc>();
        p->sub = db_.ReadSubnodes(sub);
        p->pc = std::make_unique<ltp::PropertyContext>(db_, p->sub, data);
        return p;
    }
    std::unique_ptr<Tc> OpenTc(ndb::Bid data, ndb::Bid sub) {
        auto t = std::make_unique<Tc>();
        t->sub = db_.ReadSubnodes(sub);
        t->tc = std::make_unique<ltp::TableContext>(db_, t->sub, data);
        return t;
    }
    Tc* Table(ndb::Nid nid) {
        auto it = tables_.find(nid);
        if (it != tables_.end()) return it->second.get();
        const ndb::NodeEntry* e = Node(nid);
        if (!e) return nullptr;
        return (tables_[nid] = OpenTc(e->data, e->sub)).get();
    }

    void CheckMandatoryNodes() {
        for (ndb::Nid nid :
             {nid::kMessageStore, nid::kNameToIdMap, nid::kRootFolder, nid::kSearchManagementQueue,
              nid::kSearchActivityList, nid::kHierarchyTemplate, nid::kContentsTemplate,
              nid::kAssocContentsTemplate, nid::kSearchContentsTemplate, nid::kAttachmentTemplate,
              nid::kRecipientTemplate, nid::kSpamSearchFolder, nid::kIpmSubtree, nid::kSearchRoot,
              nid::kDeletedItems}) {
            if (!Node(nid)) Error("mandatory node " + Hex(nid) + " is missing");
        }
    }

    void CheckTemplates() {
        const std::pair<ndb::Nid, const std::vector<uint32_t>*> templates[] = {
            {nid::kHierarchyTemplate, &HierarchyColumns()},
            {nid::kContentsTemplate, &ContentsColumns()},
            {nid::kAssocContentsTemplate, &AssocContentsColumns()},
            {nid::kSearchContentsTemplate, &SearchContentsColumns()},
            {nid::kAttachmentTemplate, &AttachmentColumns()},
            {nid::kRecipientTemplate, &RecipientColumns()}};
        for (const auto& [nid, columns] : templates) {
            Guard(nid, [&, nid = nid, columns = columns] {
                Tc* t = Table(nid);
                if (!t) return;
                if (t->tc->RowCount() != 0)
                    Error("template table " + Hex(nid) + " has " +
                          std::to_string(t->tc->RowCount()) + " rows");
                for (uint32_t c : *columns)
                    if (!t->tc->HasColumn(c))
                        Error("template table " + Hex(nid) + " lacks column " + Hex(c));
            });
        }
    }

    void CheckStore() {
        const ndb::NodeEntry* e = Node(nid::kMessageStore);
        if (!e) return;
        Guard(e->nid, [&] {
            auto p = OpenPc(e->data, e->sub);
            auto record = p->pc->Get(PropIdOf(tag::kRecordKey));
            if (!record || record->Bytes().size() != 16) {
                Error("message store: no 16-byte record key");
                return;
            }
            std::copy(record->Bytes().begin(), record->Bytes().end(), uid_.begin());
            if (!p->pc->Get(PropIdOf(tag::kDisplayName)))
                Error("message store: no display name (0x3001001F)");
            for (uint32_t t :
                 {tag::kIpmSubtreeEntryId, tag::kIpmWastebasketEntryId, tag::kFinderEntryId,
                  tag::kIpmOutboxEntryId, tag::kIpmSentMailEntryId, tag::kCommonViewsEntryId}) {
                auto v = p->pc->Get(PropIdOf(t));
                const bool required = t == tag::kIpmSubtreeEntryId ||
                                      t == tag::kIpmWastebasketEntryId || t == tag::kFinderEntryId;
                if (!v) {
                    if (required) Error("message store: required entry " + Hex(t) + " missing");
                    continue;
                }
                auto target = ParseEntryId(v->Bytes(), uid_);
                if (!target)
                    Error("message store: entry " + Hex(t) +
                          " is not a 24-byte entry ID of this store");
                else if (!Node(*target) || ndb::NidTypeOf(*target) != ndb::kNidTypeNormalFolder)
                    Error("message store: entry " + Hex(t) + " names " + Hex(*target) +
                          ", which is not a folder");
            }
        });
    }

    void CheckNameMap() {
        const ndb::NodeEntry* e = Node(nid::kNameToIdMap);
        if (!e) return;
        Guard(e->nid, [&] {
            auto p = OpenPc(e->data, e->sub);
            auto values = p->pc->GetAll();
            auto buckets = p->pc->Get(0x0001);
            if (!buckets || buckets->AsInt32() != int32_t(NameIdMap::kBucketCount))
                Error("name-to-id map: bucket count is not 251");
            // Rebuilding the buckets from the entry stream must give the stored ones.
            const auto expected = NameIdMap::FromProperties(values).ToProperties();
            std::map<uint32_t, std::vector<uint8_t>> want, have;
            for (const auto& v : expected)
                if (v.Id() >= 0x1000) want[v.Tag()] = v.Bytes();
            for (const auto& v : values)
                if (v.Id() >= 0x1000 && v.Id() < 0x1000 + NameIdMap::kBucketCount)
                    have[v.Tag()] = v.Bytes();
            if (want != have) Error("name-to-id map: bucket contents do not match the entries");
        });
    }

    std::optional<uint32_t> Int32Of(const ltp::PropertyContext& pc, uint32_t t) {
        auto v = pc.Get(PropIdOf(t));
        if (!v) return std::nullopt;
        return uint32_t(v->AsInt32());
    }

    void CheckFolder(const ndb::NodeEntry& e) {
        ++report_.folders;
        const std::string name = "folder " + Hex(e.nid);
        for (ndb::Nid t :
             {nid::HierarchyOf(e.nid), nid::ContentsOf(e.nid), nid::AssocContentsOf(e.nid)})
            if (!Node(t)) Error(name + ": table " + Hex(t) + " is missing");
        auto p = OpenPc(e.data, e.sub);
        const ltp::PropertyContext& pc = *p->pc;
        for (uint32_t t :
             {tag::kDisplayName, tag::kContentCount, tag::kContentUnreadCount, tag::kSubfolders})
            if (!pc.Get(PropIdOf(t))) Error(name + ": property " + Hex(t) + " missing");

        if (Tc* h = Table(nid::HierarchyOf(e.nid))) {
            auto sub = pc.Get(PropIdOf(tag::kSubfolders));
            if (sub && sub->AsBool() != (h->tc->RowCount() > 0))
                Error(name + ": has-subfolders is " + (sub->AsBool() ? "true" : "false") +
                      " with " + std::to_string(h->tc->RowCount()) + " hierarchy rows");
            // Each row is a child: readers descend through these rows, so a row naming
            // anything else leads them astray (or round in circles).
            for (size_t i = 0; i < h->tc->RowCount(); ++i) {
                const ndb::Nid child = h->tc->RowIdAt(i);
                const ndb::NodeEntry* c = Node(child);
                const uint32_t type = ndb::NidTypeOf(child);
                if (!c || (type != ndb::kNidTypeNormalFolder && type != ndb::kNidTypeSearchFolder))
                    Error(name + ": hierarchy row names " + Hex(child) + ", which is not a folder");
                else if (c->parent != e.nid)
                    Error(name + ": hierarchy row names " + Hex(child) + ", whose parent is " +
                          Hex(c->parent));
            }
        }
        if (Tc* c = Table(nid::ContentsOf(e.nid))) {
            uint32_t unread = 0;
            for (size_t i = 0; i < c->tc->RowCount(); ++i) {
                auto flags = c->tc->Cell(i, tag::kMessageFlags);
                if (flags && !(flags->AsInt32() & kMsgFlagRead)) ++unread;
                if (!Node(c->tc->RowIdAt(i)))
                    Error(name + ": contents row names missing message " + Hex(c->tc->RowIdAt(i)));
            }
            if (Int32Of(pc, tag::kContentCount).value_or(0) != c->tc->RowCount())
                Error(name + ": content count " +
                      std::to_string(Int32Of(pc, tag::kContentCount).value_or(0)) + " but " +
                      std::to_string(c->tc->RowCount()) + " contents rows");
            if (Int32Of(pc, tag::kContentUnreadCount).value_or(0) != unread)
                Error(name + ": unread count " +
                      std::to_string(Int32Of(pc, tag::kContentUnreadCount).value_or(0)) + " but " +
                      std::to_string(unread) + " unread rows");
        }

        if (e.nid == nid::kRootFolder) {
            if (e.parent != e.nid) Error("root folder: parent is not itself");
            return;
        }
        const ndb::NodeEntry* parent = Node(e.parent);
        if (!parent || ndb::NidTypeOf(e.parent) != ndb::kNidTypeNormalFolder) {
            Error(name + ": parent " + Hex(e.parent) + " is not a folder");
            return;
        }
        Tc* h = Table(nid::HierarchyOf(e.parent));
        if (!h) return;
        size_t rows = 0;
        for (size_t i = 0; i < h->tc->RowCount(); ++i) {
            if (h->tc->RowIdAt(i) != e.nid) continue;
            ++rows;
            // The parent's row repeats the folder's own values.
            for (const auto& v : h->tc->Row(i)) {
                if (v.Tag() == ltp::TableContext::kRowIdTag ||
                    v.Tag() == ltp::TableContext::kRowVerTag)
                    continue;
                auto own = pc.Get(v.Id());
                if (own && own->Tag() == v.Tag() && own->Bytes() != v.Bytes())
                    Error(name + ": parent row value " + Hex(v.Tag()) +
                          " differs from the folder's own");
            }
        }
        if (rows != 1)
            Error(name + ": " + std::to_string(rows) + " rows in the parent's hierarchy table");
    }

    // Every folder's parents lead up to the root folder. Folders whose chain comes round to
    // itself are unreachable from the root, and a reader that follows parents never ends.
    void CheckFolderChains() {
        std::set<ndb::Nid> good{nid::kRootFolder}, bad;
        for (const auto& [start, e] : nodes_) {
            if (ndb::NidTypeOf(start) != ndb::kNidTypeNormalFolder) continue;
            std::vector<ndb::Nid> chain;
            std::set<ndb::Nid> seen;
            ndb::Nid cur = start;
            bool reaches = false;
            while (true) {
                if (good.count(cur)) {
                    reaches = true;
                    break;
                }
                if (bad.count(cur)) break;
                if (!seen.insert(cur).second) {
                    Error("folder " + Hex(start) + ": its parent chain runs in a cycle through " +
                          Hex(cur));
                    break;
                }
                chain.push_back(cur);
                const ndb::NodeEntry* n = Node(cur);
                if (!n || ndb::NidTypeOf(cur) != ndb::kNidTypeNormalFolder) break;  // reported
                cur = n->parent;
            }
            (reaches ? good : bad).insert(chain.begin(), chain.end());
        }
    }

    void CheckMessage(const ndb::NodeEntry& e) {
        ++report_.messages;
        CheckMessageNode(e.nid, e.data, e.sub, "message " + Hex(e.nid), 0);
        Tc* c = Table(nid::ContentsOf(e.parent));
        auto row = c ? c->tc->FindRow(e.nid) : std::nullopt;
        if (!row) {
            Error("message " + Hex(e.nid) + ": no row in the contents table of " + Hex(e.parent));
            return;
        }
        auto p = OpenPc(e.data, e.sub);
        CheckRowMatches(*c->tc, *row, *p->pc,
                        "message " + Hex(e.nid) + " contents row in " + Hex(e.parent));
    }

    void CheckMessageNode(ndb::Nid nid, ndb::Bid data, ndb::Bid subBid, const std::string& name,
                          int depth) {
        if (depth > kMaxDepth) {
            Error(name + ": messages embedded deeper than " + std::to_string(kMaxDepth) +
                  " levels");
            return;
        }
        ndb::SubnodeMap sub = db_.ReadSubnodes(subBid);
        ltp::PropertyContext pc(db_, sub, data);
        // The status is left out: Outlook keeps it in the contents row only.
        for (uint32_t t : {tag::kMessageClass, tag::kMessageFlags, tag::kMessageSize,
                           tag::kCreationTime, tag::kLastModificationTime, tag::kSearchKey})
            if (!pc.Get(PropIdOf(t))) Error(name + ": property " + Hex(t) + " missing");
        if (!sub.count(nid::kMessageRecipients)) Error(name + ": no recipient table (0x692)");
        std::set<ndb::Nid> attachNodes;
        for (const auto& [snid, entry] : sub)
            if (ndb::NidTypeOf(snid) == ndb::kNidTypeAttachment) attachNodes.insert(snid);
        std::set<ndb::Nid> attachRows;
        std::unique_ptr<Tc> attachTable;
        if (auto t = sub.find(nid::kMessageAttachments); t != sub.end()) {
            attachTable = OpenTc(t->second.data, t->second.sub);
            for (size_t i = 0; i < attachTable->tc->RowCount(); ++i)
                attachRows.insert(attachTable->tc->RowIdAt(i));
        }
        if (attachRows != attachNodes)
            Error(name + ": " + std::to_string(attachRows.size()) + " attachment rows for " +
                  std::to_string(attachNodes.size()) + " attachment subnodes");
        for (ndb::Nid a : attachNodes) {
            const auto& entry = sub.at(a);
            ndb::SubnodeMap asub = db_.ReadSubnodes(entry.sub);
            ltp::PropertyContext apc(db_, asub, entry.data);
            if (attachTable) {
                if (auto row = attachTable->tc->FindRow(a))
                    CheckRowMatches(*attachTable->tc, *row, apc, name + " attachment " + Hex(a));
            }
            auto object = apc.Get(PropIdOf(tag::kAttachDataObject));
            if (!object || object->Tag() != tag::kAttachDataObject) continue;
            const auto& b = object->Bytes();
            if (b.size() < 4) {
                Error(name + ": attachment " + Hex(a) + " holds an object without a subnode NID");
                continue;
            }
            const ndb::Nid embedded =
                ndb::Nid(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
            auto m = asub.find(embedded);
            if (m == asub.end() || ndb::NidTypeOf(embedded) != ndb::kNidTypeNormalMessage) {
                Error(name + ": attachment " + Hex(a) + " embeds " + Hex(embedded) +
                      ", not a message subnode");
                continue;
            }
            CheckMessageNode(embedded, m->second.data, m->second.sub,
                             name + " / embedded " + Hex(embedded), depth + 1);
        }
        (void)nid;
    }

    // The heap client signature a node kind demands; nothing for kinds that vary.
    static std::optional<uint8_t> ClientSigOf(ndb::Nid nid) {
        switch (ndb::NidTypeOf(nid)) {
            case ndb::kNidTypeReceiveFolderTable:
            case ndb::kNidTypeOutgoingQueueTable:
            case ndb::kNidTypeHierarchyTable:
            case ndb::kNidTypeContentsTable:
            case ndb::kNidTypeAssocContentsTable:
            case ndb::kNidTypeSearchContentsTable:
            case ndb::kNidTypeAttachmentTable:
            case ndb::kNidTypeRecipientTable:
                return ltp::kClientSigTc;
            case ndb::kNidTypeNormalFolder:
            case ndb::kNidTypeSearchFolder:
            case ndb::kNidTypeNormalMessage:
            case ndb::kNidTypeAssocMessage:
            case ndb::kNidTypeAttachment:
                return ltp::kClientSigPc;
            default:
                if (nid == nid::kMessageStore || nid == nid::kNameToIdMap) return ltp::kClientSigPc;
                return std::nullopt;
        }
    }

    // Node kinds whose data is always a heap: a damaged heap header must be reported, not
    // taken for a plain stream.
    static bool MustHoldHeap(ndb::Nid nid) { return ClientSigOf(nid).has_value(); }

    // The heap, BTH, PC and TC rules on a node's data and, recursively, on every subnode
    // that holds a heap (recipient and attachment tables, attachment objects, embedded
    // messages). Streams that are not heaps (queues, attachment bytes) are left alone.
    // `walked` holds the subnode trees of this node checked so far, `path` those being checked
    // above this one: a tree met again is checked once, and a tree inside itself is a fault.
    void CheckHeaps(ndb::Nid nid, ndb::Bid data, ndb::Bid subBid, const std::string& where,
                    int depth, std::set<ndb::Bid>& walked, std::set<ndb::Bid>& path) {
        if (depth > kMaxDepth) {
            Error(where + ": subnodes nested deeper than " + std::to_string(kMaxDepth) + " levels");
            return;
        }
        if (subBid != 0 && path.count(ndb::BidKey(subBid))) {
            Error(where + ": subnode tree " + Hex(subBid) + " contains itself");
            return;
        }
        const bool subDone = subBid != 0 && !walked.insert(ndb::BidKey(subBid)).second;
        const ndb::SubnodeMap sub = db_.ReadSubnodes(subBid);
        // Raw LTP subnodes (values too large for a heap, row matrices) hold plain bytes that
        // may look like a heap header by chance.
        const bool rawData = ndb::NidTypeOf(nid) == ndb::kNidTypeLtp;
        if (data && !rawData && (MustHoldHeap(nid) || ltp::HeapClientSig(db_, data)))
            for (const auto& fault : ltp::VerifyHeapNode(db_, data, sub, ClientSigOf(nid)))
                Error(where + ": " + fault);
        if (subDone) return;
        if (subBid != 0) path.insert(ndb::BidKey(subBid));
        for (const auto& [snid, entry] : sub) {
            const std::string inner = where + " subnode " + Hex(snid);
            try {
                CheckHeaps(snid, entry.data, entry.sub, inner, depth + 1, walked, path);
            } catch (const std::exception& ex) {
                Error(inner + ": " + ex.what());
            }
        }
        if (subBid != 0) path.erase(ndb::BidKey(subBid));
    }

    // A table row repeats values of the object it stands for; where both hold a property
    // with the same tag, the bytes must agree.
    void CheckRowMatches(const ltp::TableContext& tc, size_t row, const ltp::PropertyContext& pc,
                         const std::string& what) {
        for (const auto& v : tc.Row(row)) {
            if (v.Tag() == ltp::TableContext::kRowIdTag || v.Tag() == ltp::TableContext::kRowVerTag)
                continue;
            auto own = pc.Get(v.Id());
            if (own && own->Tag() == v.Tag() && own->Bytes() != v.Bytes())
                Error(what + ": row value " + Hex(v.Tag()) + " differs from the object's own");
        }
    }

    void CheckQueue(const ndb::NodeEntry& e) {
        const uint64_t size = e.data ? db_.StreamSize(e.data) : 0;
        if (size % 20)
            Error("queue " + Hex(e.nid) + ": size " + std::to_string(size) +
                  " is not a multiple of 20");
        if (e.parent > size) Error("queue " + Hex(e.nid) + ": head offset beyond the queue");
    }

    static constexpr int kMaxDepth = 8;
    const ndb::PstFile& file_;
    ndb::PstFile& db_;
    StoreUid uid_{};
    std::map<ndb::Nid, ndb::NodeEntry> nodes_;
    std::map<ndb::Nid, std::unique_ptr<Tc>> tables_;
    StoreReport report_;
};

}  // namespace

StoreReport VerifyStore(const ndb::PstFile& file) {
    return Checker(file).Run(true);
}

StoreReport VerifyStoreForAdding(const ndb::PstFile& file) {
    return Checker(file).Run(false);
}

StoreReport VerifyStoreFile(const std::filesystem::path& path) {
    StoreReport report;
    auto ndbReport = ndb::VerifyFileReport(path);
    for (const auto& e : ndbReport.errors) report.errors.push_back("ndb: " + e);
    for (const auto& w : ndbReport.warnings) report.warnings.push_back("ndb: " + w);
    std::unique_ptr<ndb::PstFile> file;
    try {
        file = ndb::PstFile::Open(path, ndb::PstFile::Mode::ReadOnly);
    } catch (const std::exception& e) {
        report.errors.push_back(std::string("cannot open: ") + e.what());
        return report;
    }
    StoreReport store = VerifyStore(*file);
    report.errors.insert(report.errors.end(), store.errors.begin(), store.errors.end());
    report.folders = store.folders;
    report.messages = store.messages;
    return report;
}

}  // namespace pst::messaging
