#include "pst/messaging/store_verifier.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

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

    StoreReport run() {
        file_.forEachNode([this](const ndb::NodeEntry& e) { nodes_[e.nid] = e; });
        checkMandatoryNodes();
        checkTemplates();
        checkStore();
        checkNameMap();
        for (const auto& [nid, e] : nodes_) {
            const uint32_t type = ndb::NidTypeOf(nid);
            if (type == ndb::kNidTypeNormalFolder) guard(nid, [&] { checkFolder(e); });
            if (type == ndb::kNidTypeNormalMessage) guard(nid, [&] { checkMessage(e); });
        }
        for (ndb::Nid queue : {nid::kSearchManagementQueue, nid::kSpamSearchUpdateQueue})
            if (auto it = nodes_.find(queue); it != nodes_.end()) checkQueue(it->second);
        for (const auto& [nid, e] : nodes_)
            guard(nid, [&] { checkHeaps(nid, e.data, e.sub, "node " + Hex(nid), 0); });
        return std::move(report_);
    }

  private:
    void error(const std::string& what) { report_.errors.push_back(what); }

    template <class F>
    void guard(ndb::Nid nid, F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            error("node " + Hex(nid) + ": " + e.what());
        }
    }

    const ndb::NodeEntry* node(ndb::Nid nid) const {
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
    std::unique_ptr<Pc> openPc(ndb::Bid data, ndb::Bid sub) {
        auto p = std::make_unique<Pc>();
        p->sub = db_.readSubnodes(sub);
        p->pc = std::make_unique<ltp::PropertyContext>(db_, p->sub, data);
        return p;
    }
    std::unique_ptr<Tc> openTc(ndb::Bid data, ndb::Bid sub) {
        auto t = std::make_unique<Tc>();
        t->sub = db_.readSubnodes(sub);
        t->tc = std::make_unique<ltp::TableContext>(db_, t->sub, data);
        return t;
    }
    Tc* table(ndb::Nid nid) {
        auto it = tables_.find(nid);
        if (it != tables_.end()) return it->second.get();
        const ndb::NodeEntry* e = node(nid);
        if (!e) return nullptr;
        return (tables_[nid] = openTc(e->data, e->sub)).get();
    }

    void checkMandatoryNodes() {
        for (ndb::Nid nid :
             {nid::kMessageStore, nid::kNameToIdMap, nid::kRootFolder, nid::kSearchManagementQueue,
              nid::kSearchActivityList, nid::kHierarchyTemplate, nid::kContentsTemplate,
              nid::kAssocContentsTemplate, nid::kSearchContentsTemplate, nid::kAttachmentTemplate,
              nid::kRecipientTemplate, nid::kSpamSearchFolder, nid::kIpmSubtree, nid::kSearchRoot,
              nid::kDeletedItems}) {
            if (!node(nid)) error("mandatory node " + Hex(nid) + " is missing");
        }
    }

    void checkTemplates() {
        const std::pair<ndb::Nid, const std::vector<uint32_t>*> templates[] = {
            {nid::kHierarchyTemplate, &HierarchyColumns()},
            {nid::kContentsTemplate, &ContentsColumns()},
            {nid::kAssocContentsTemplate, &AssocContentsColumns()},
            {nid::kSearchContentsTemplate, &SearchContentsColumns()},
            {nid::kAttachmentTemplate, &AttachmentColumns()},
            {nid::kRecipientTemplate, &RecipientColumns()}};
        for (const auto& [nid, columns] : templates) {
            guard(nid, [&, nid = nid, columns = columns] {
                Tc* t = table(nid);
                if (!t) return;
                if (t->tc->rowCount() != 0)
                    error("template table " + Hex(nid) + " has " +
                          std::to_string(t->tc->rowCount()) + " rows");
                for (uint32_t c : *columns)
                    if (!t->tc->hasColumn(c))
                        error("template table " + Hex(nid) + " lacks column " + Hex(c));
            });
        }
    }

    void checkStore() {
        const ndb::NodeEntry* e = node(nid::kMessageStore);
        if (!e) return;
        guard(e->nid, [&] {
            auto p = openPc(e->data, e->sub);
            auto record = p->pc->get(PropIdOf(tag::kRecordKey));
            if (!record || record->bytes().size() != 16) {
                error("message store: no 16-byte record key");
                return;
            }
            std::copy(record->bytes().begin(), record->bytes().end(), uid_.begin());
            if (!p->pc->get(PropIdOf(tag::kDisplayName)))
                error("message store: no display name (0x3001001F)");
            for (uint32_t t :
                 {tag::kIpmSubtreeEntryId, tag::kIpmWastebasketEntryId, tag::kFinderEntryId,
                  tag::kIpmOutboxEntryId, tag::kIpmSentMailEntryId, tag::kCommonViewsEntryId}) {
                auto v = p->pc->get(PropIdOf(t));
                const bool required = t == tag::kIpmSubtreeEntryId ||
                                      t == tag::kIpmWastebasketEntryId || t == tag::kFinderEntryId;
                if (!v) {
                    if (required) error("message store: required entry " + Hex(t) + " missing");
                    continue;
                }
                auto target = ParseEntryId(v->bytes(), uid_);
                if (!target)
                    error("message store: entry " + Hex(t) +
                          " is not a 24-byte entry ID of this store");
                else if (!node(*target) || ndb::NidTypeOf(*target) != ndb::kNidTypeNormalFolder)
                    error("message store: entry " + Hex(t) + " names " + Hex(*target) +
                          ", which is not a folder");
            }
        });
    }

    void checkNameMap() {
        const ndb::NodeEntry* e = node(nid::kNameToIdMap);
        if (!e) return;
        guard(e->nid, [&] {
            auto p = openPc(e->data, e->sub);
            auto values = p->pc->getAll();
            auto buckets = p->pc->get(0x0001);
            if (!buckets || buckets->asInt32() != int32_t(NameIdMap::kBucketCount))
                error("name-to-id map: bucket count is not 251");
            // Rebuilding the buckets from the entry stream must give the stored ones.
            const auto expected = NameIdMap::FromProperties(values).toProperties();
            std::map<uint32_t, std::vector<uint8_t>> want, have;
            for (const auto& v : expected)
                if (v.id() >= 0x1000) want[v.tag()] = v.bytes();
            for (const auto& v : values)
                if (v.id() >= 0x1000 && v.id() < 0x1000 + NameIdMap::kBucketCount)
                    have[v.tag()] = v.bytes();
            if (want != have) error("name-to-id map: bucket contents do not match the entries");
        });
    }

    std::optional<uint32_t> int32Of(const ltp::PropertyContext& pc, uint32_t t) {
        auto v = pc.get(PropIdOf(t));
        if (!v) return std::nullopt;
        return uint32_t(v->asInt32());
    }

    void checkFolder(const ndb::NodeEntry& e) {
        ++report_.folders;
        const std::string name = "folder " + Hex(e.nid);
        for (ndb::Nid t :
             {nid::HierarchyOf(e.nid), nid::ContentsOf(e.nid), nid::AssocContentsOf(e.nid)})
            if (!node(t)) error(name + ": table " + Hex(t) + " is missing");
        auto p = openPc(e.data, e.sub);
        const ltp::PropertyContext& pc = *p->pc;
        for (uint32_t t :
             {tag::kDisplayName, tag::kContentCount, tag::kContentUnreadCount, tag::kSubfolders})
            if (!pc.get(PropIdOf(t))) error(name + ": property " + Hex(t) + " missing");

        if (Tc* h = table(nid::HierarchyOf(e.nid))) {
            auto sub = pc.get(PropIdOf(tag::kSubfolders));
            if (sub && sub->asBool() != (h->tc->rowCount() > 0))
                error(name + ": has-subfolders is " + (sub->asBool() ? "true" : "false") +
                      " with " + std::to_string(h->tc->rowCount()) + " hierarchy rows");
        }
        if (Tc* c = table(nid::ContentsOf(e.nid))) {
            uint32_t unread = 0;
            for (size_t i = 0; i < c->tc->rowCount(); ++i) {
                auto flags = c->tc->cell(i, tag::kMessageFlags);
                if (flags && !(flags->asInt32() & kMsgFlagRead)) ++unread;
                if (!node(c->tc->rowIdAt(i)))
                    error(name + ": contents row names missing message " + Hex(c->tc->rowIdAt(i)));
            }
            if (int32Of(pc, tag::kContentCount).value_or(0) != c->tc->rowCount())
                error(name + ": content count " +
                      std::to_string(int32Of(pc, tag::kContentCount).value_or(0)) + " but " +
                      std::to_string(c->tc->rowCount()) + " contents rows");
            if (int32Of(pc, tag::kContentUnreadCount).value_or(0) != unread)
                error(name + ": unread count " +
                      std::to_string(int32Of(pc, tag::kContentUnreadCount).value_or(0)) + " but " +
                      std::to_string(unread) + " unread rows");
        }

        if (e.nid == nid::kRootFolder) {
            if (e.parent != e.nid) error("root folder: parent is not itself");
            return;
        }
        const ndb::NodeEntry* parent = node(e.parent);
        if (!parent || ndb::NidTypeOf(e.parent) != ndb::kNidTypeNormalFolder) {
            error(name + ": parent " + Hex(e.parent) + " is not a folder");
            return;
        }
        Tc* h = table(nid::HierarchyOf(e.parent));
        if (!h) return;
        size_t rows = 0;
        for (size_t i = 0; i < h->tc->rowCount(); ++i) {
            if (h->tc->rowIdAt(i) != e.nid) continue;
            ++rows;
            // The parent's row repeats the folder's own values.
            for (const auto& v : h->tc->row(i)) {
                if (v.tag() == ltp::TableContext::kRowIdTag ||
                    v.tag() == ltp::TableContext::kRowVerTag)
                    continue;
                auto own = pc.get(v.id());
                if (own && own->tag() == v.tag() && own->bytes() != v.bytes())
                    error(name + ": parent row value " + Hex(v.tag()) +
                          " differs from the folder's own");
            }
        }
        if (rows != 1)
            error(name + ": " + std::to_string(rows) + " rows in the parent's hierarchy table");
    }

    void checkMessage(const ndb::NodeEntry& e) {
        ++report_.messages;
        checkMessageNode(e.nid, e.data, e.sub, "message " + Hex(e.nid));
        Tc* c = table(nid::ContentsOf(e.parent));
        auto row = c ? c->tc->findRow(e.nid) : std::nullopt;
        if (!row) {
            error("message " + Hex(e.nid) + ": no row in the contents table of " + Hex(e.parent));
            return;
        }
        auto p = openPc(e.data, e.sub);
        checkRowMatches(*c->tc, *row, *p->pc,
                        "message " + Hex(e.nid) + " contents row in " + Hex(e.parent));
    }

    void checkMessageNode(ndb::Nid nid, ndb::Bid data, ndb::Bid subBid, const std::string& name) {
        ndb::SubnodeMap sub = db_.readSubnodes(subBid);
        ltp::PropertyContext pc(db_, sub, data);
        // The status is left out: Outlook keeps it in the contents row only.
        for (uint32_t t : {tag::kMessageClass, tag::kMessageFlags, tag::kMessageSize,
                           tag::kCreationTime, tag::kLastModificationTime, tag::kSearchKey})
            if (!pc.get(PropIdOf(t))) error(name + ": property " + Hex(t) + " missing");
        if (!sub.count(nid::kMessageRecipients)) error(name + ": no recipient table (0x692)");
        std::set<ndb::Nid> attachNodes;
        for (const auto& [snid, entry] : sub)
            if (ndb::NidTypeOf(snid) == ndb::kNidTypeAttachment) attachNodes.insert(snid);
        std::set<ndb::Nid> attachRows;
        std::unique_ptr<Tc> attachTable;
        if (auto t = sub.find(nid::kMessageAttachments); t != sub.end()) {
            attachTable = openTc(t->second.data, t->second.sub);
            for (size_t i = 0; i < attachTable->tc->rowCount(); ++i)
                attachRows.insert(attachTable->tc->rowIdAt(i));
        }
        if (attachRows != attachNodes)
            error(name + ": " + std::to_string(attachRows.size()) + " attachment rows for " +
                  std::to_string(attachNodes.size()) + " attachment subnodes");
        for (ndb::Nid a : attachNodes) {
            const auto& entry = sub.at(a);
            ndb::SubnodeMap asub = db_.readSubnodes(entry.sub);
            ltp::PropertyContext apc(db_, asub, entry.data);
            if (attachTable) {
                if (auto row = attachTable->tc->findRow(a))
                    checkRowMatches(*attachTable->tc, *row, apc, name + " attachment " + Hex(a));
            }
            auto object = apc.get(PropIdOf(tag::kAttachDataObject));
            if (!object || object->tag() != tag::kAttachDataObject) continue;
            const auto& b = object->bytes();
            const ndb::Nid embedded =
                ndb::Nid(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
            auto m = asub.find(embedded);
            if (m == asub.end() || ndb::NidTypeOf(embedded) != ndb::kNidTypeNormalMessage) {
                error(name + ": attachment " + Hex(a) + " embeds " + Hex(embedded) +
                      ", not a message subnode");
                continue;
            }
            checkMessageNode(embedded, m->second.data, m->second.sub,
                             name + " / embedded " + Hex(embedded));
        }
        (void)nid;
    }

    // Node kinds whose data is always a heap: a damaged heap header must be reported, not
    // taken for a plain stream.
    static bool MustHoldHeap(ndb::Nid nid) {
        switch (ndb::NidTypeOf(nid)) {
            case ndb::kNidTypeNormalFolder:
            case ndb::kNidTypeSearchFolder:
            case ndb::kNidTypeNormalMessage:
            case ndb::kNidTypeAssocMessage:
            case ndb::kNidTypeAttachment:
            case ndb::kNidTypeHierarchyTable:
            case ndb::kNidTypeContentsTable:
            case ndb::kNidTypeAssocContentsTable:
            case ndb::kNidTypeSearchContentsTable:
            case ndb::kNidTypeAttachmentTable:
            case ndb::kNidTypeRecipientTable:
                return true;
            default:
                return nid == nid::kMessageStore || nid == nid::kNameToIdMap;
        }
    }

    // The heap, BTH, PC and TC rules on a node's data and, recursively, on every subnode
    // that holds a heap (recipient and attachment tables, attachment objects, embedded
    // messages). Streams that are not heaps (queues, attachment bytes) are left alone.
    void checkHeaps(ndb::Nid nid, ndb::Bid data, ndb::Bid subBid, const std::string& where,
                    int depth) {
        if (depth > 8) {
            error(where + ": subnodes nested deeper than 8 levels");
            return;
        }
        const ndb::SubnodeMap sub = db_.readSubnodes(subBid);
        // Raw LTP subnodes (values too large for a heap, row matrices) hold plain bytes that
        // may look like a heap header by chance.
        const bool rawData = ndb::NidTypeOf(nid) == ndb::kNidTypeLtp;
        if (data && !rawData && (MustHoldHeap(nid) || ltp::HeapClientSig(db_, data)))
            for (const auto& fault : ltp::VerifyHeapNode(db_, data, sub))
                error(where + ": " + fault);
        for (const auto& [snid, entry] : sub) {
            const std::string inner = where + " subnode " + Hex(snid);
            try {
                checkHeaps(snid, entry.data, entry.sub, inner, depth + 1);
            } catch (const std::exception& ex) {
                error(inner + ": " + ex.what());
            }
        }
    }

    // A table row repeats values of the object it stands for; where both hold a property
    // with the same tag, the bytes must agree.
    void checkRowMatches(const ltp::TableContext& tc, size_t row, const ltp::PropertyContext& pc,
                         const std::string& what) {
        for (const auto& v : tc.row(row)) {
            if (v.tag() == ltp::TableContext::kRowIdTag || v.tag() == ltp::TableContext::kRowVerTag)
                continue;
            auto own = pc.get(v.id());
            if (own && own->tag() == v.tag() && own->bytes() != v.bytes())
                error(what + ": row value " + Hex(v.tag()) + " differs from the object's own");
        }
    }

    void checkQueue(const ndb::NodeEntry& e) {
        const uint64_t size = e.data ? db_.streamSize(e.data) : 0;
        if (size % 20)
            error("queue " + Hex(e.nid) + ": size " + std::to_string(size) +
                  " is not a multiple of 20");
        if (e.parent > size) error("queue " + Hex(e.nid) + ": head offset beyond the queue");
    }

    const ndb::PstFile& file_;
    ndb::PstFile& db_;
    StoreUid uid_{};
    std::map<ndb::Nid, ndb::NodeEntry> nodes_;
    std::map<ndb::Nid, std::unique_ptr<Tc>> tables_;
    StoreReport report_;
};

}  // namespace

StoreReport VerifyStore(const ndb::PstFile& file) {
    return Checker(file).run();
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
