#pragma once

// Checks a data file against rules Outlook's own files follow, read with our reader at node level:
// sizes, the stored form of subjects, conversations, previews, change keys and code pages of
// messages; row versions of every table row; the counts folders with messages carry; the
// internal nodes of a store; the search management queue. Used on Outlook-made samples (to
// confirm each rule) and on the files our tests write.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/message_store.h"
#include "pst/ndb/errors.h"

namespace pst::messaging::testing {

class OutlookRules {
  public:
    // Every violation in `file`, one line each, naming the message.
    static std::vector<std::string> Check(const std::filesystem::path& file) {
        OutlookRules rules;
        auto store = MessageStore::Open(file, true);
        rules.db_ = &store->Database();
        rules.CheckInternalNodes();
        rules.CheckSearchQueue();
        std::vector<Nid> folders{store->RootFolder()};
        while (!folders.empty()) {
            const Nid folder = folders.back();
            folders.pop_back();
            if (ndb::NidTypeOf(folder) != ndb::kNidTypeNormalFolder) continue;
            for (Nid child : store->SubfolderNids(folder)) folders.push_back(child);
            rules.CheckFolder(folder);
            const auto rows = store->ContentsRows(folder);
            rules.CheckRowVersions(rows, "contents table of " + ndb::Hex(folder));
            for (const auto& row : rows) {
                const PropertyValue* id = Cell(row, 0x67F20003);
                if (!id) {
                    rules.errors_.push_back("a contents row without a row id");
                    continue;
                }
                const Nid nid = Nid(id->AsInt32());
                const auto node = rules.db_->FindNode(nid);
                if (!node) {
                    rules.Fail(nid, "contents row without a node");
                    continue;
                }
                rules.CheckMessage(nid, node->data, node->sub, &row);
            }
        }
        return rules.errors_;
    }

  private:
    using Row = std::vector<PropertyValue>;

    // A heap-on-node's client signature, 0 for a node without data.
    uint8_t HeapSignature(Nid nid) const {
        const auto node = db_->FindNode(nid);
        if (!node || !node->data) return 0;
        const auto bytes = db_->ReadBlock(db_->DataBlocks(node->data).front());
        return bytes.size() >= 4 && bytes[2] == 0xEC ? bytes[3] : 0;
    }

    // Outlook's files, new ones too, hold these internal nodes: a heap with a table keyed by 16
    // bytes, a heap of another kind, and a node without data (in a new file).
    void CheckInternalNodes() {
        if (HeapSignature(0xC01) != 0x9C) errors_.push_back("node 0xC01 is not a 0x9C heap");
        if (HeapSignature(0xE01) != 0xCC) errors_.push_back("node 0xE01 is not a 0xCC heap");
        if (!db_->FindNode(0xE41)) errors_.push_back("node 0xE41 is missing");
    }

    // Every row version of a table is set, and no two rows share one: one counter of the store
    // numbers every row it writes.
    void CheckRowVersions(const std::vector<Row>& rows, const std::string& table) {
        std::set<int32_t> seen;
        for (const auto& row : rows) {
            const PropertyValue* version = Cell(row, 0x67F30003);
            if (!version || version->AsInt32() == 0)
                errors_.push_back(table + ": a row without a row version");
            else if (!seen.insert(version->AsInt32()).second)
                errors_.push_back(table + ": row version " + std::to_string(version->AsInt32()) +
                                  " twice");
        }
    }

    static std::vector<Row> Rows(ltp::TableContext& table) {
        std::vector<Row> rows;
        for (size_t i = 0; i < table.RowCount(); ++i) rows.push_back(table.Row(i));
        return rows;
    }

    // A folder that holds messages carries its hidden-item counts, in its row too; its
    // subfolders' rows carry row versions.
    void CheckFolder(Nid folder) {
        auto& db = const_cast<ndb::NodeDatabase&>(*db_);
        const auto node = db.FindNode(folder);
        ndb::SubnodeMap sub = db.ReadSubnodes(node->sub);
        ltp::PropertyContext pc(db, sub, node->data);
        const auto count = pc.Get(0x3602);
        const auto parentTable =
            db.FindNode(ndb::MakeNid(ndb::kNidTypeHierarchyTable, ndb::NidIndexOf(node->parent)));
        std::optional<Row> row;
        if (node->parent != folder && parentTable) {
            ndb::SubnodeMap tableSub = db.ReadSubnodes(parentTable->sub);
            ltp::TableContext table(db, tableSub, parentTable->data);
            row = table.RowById(folder);
        }
        for (uint16_t id : {uint16_t(0x6635), uint16_t(0x6636)}) {
            const auto value = pc.Get(id);
            if (count && count->AsInt32() > 0 && !value)
                errors_.push_back("folder " + ndb::Hex(folder) + " holds messages without " +
                                  ndb::Hex(id));
            const PropertyValue* cell = row ? Cell(*row, uint32_t(id) << 16 | 3) : nullptr;
            if (value && cell && cell->AsInt32() != value->AsInt32())
                errors_.push_back("folder " + ndb::Hex(folder) + ": its row's " + ndb::Hex(id) +
                                  " differs");
        }
        if (const auto hierarchy =
                db.FindNode(ndb::MakeNid(ndb::kNidTypeHierarchyTable, ndb::NidIndexOf(folder)))) {
            ndb::SubnodeMap tableSub = db.ReadSubnodes(hierarchy->sub);
            ltp::TableContext table(db, tableSub, hierarchy->data);
            CheckRowVersions(Rows(table), "hierarchy table of " + ndb::Hex(folder));
        }
    }

    // The search management queue: whole 20-byte entries from its head on; a message or folder
    // added is named with the folder it was added to.
    void CheckSearchQueue() {
        const auto node = db_->FindNode(0x1E1);
        if (!node) {
            errors_.push_back("no search management queue");
            return;
        }
        const auto bytes = db_->ReadStream(node->data);
        if (bytes.size() % 20 != 0 || node->parent > bytes.size() || node->parent % 20 != 0) {
            errors_.push_back("search management queue of " + std::to_string(bytes.size()) +
                              " bytes, head at " + std::to_string(node->parent));
            return;
        }
        auto get32 = [&bytes](size_t at) {
            return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                            uint32_t(bytes[at + 3]) << 24);
        };
        for (size_t at = node->parent; at < bytes.size(); at += 20) {
            const uint16_t type = uint16_t(bytes[at + 2] | bytes[at + 3] << 8);
            if (type != 1 && type != 5) continue;  // message added, folder added
            const Nid parent = get32(at + 4), child = get32(at + 8);
            const auto entry = db_->FindNode(child);
            if (!entry || entry->parent != parent)
                errors_.push_back("search update " + std::to_string(type) + " names " +
                                  ndb::Hex(child) + " in " + ndb::Hex(parent) +
                                  ", which it is not in");
        }
    }

    // A change key: the GUID of the replica that made the change and its counter; the
    // predecessor change list: sized change keys, this one among them.
    void CheckChangeKey(Nid nid, const ltp::PropertyContext& pc) {
        const auto key = pc.Get(0x65E2);
        const auto list = pc.Get(0x65E3);
        if (!key || key->size() < 17 || key->size() > 24) {
            Fail(nid, "no change key of a GUID and a counter");
            return;
        }
        bool listed = false;
        const ValueBytes b = list ? list->Bytes() : ValueBytes();
        size_t at = 0;
        while (at < b.size() && at + 1 + b[at] <= b.size()) {
            listed = listed || std::equal(b.begin() + at + 1, b.begin() + at + 1 + b[at],
                                          key->Bytes().begin(), key->Bytes().end());
            at += 1 + b[at];
        }
        if (!list || at != b.size() || !listed)
            Fail(nid, "predecessor change list without the change key");
        if (!changeKeys_.insert(key->Bytes()).second) Fail(nid, "change key of another message");
    }

    static const PropertyValue* Cell(const Row& row, uint32_t tag) {
        for (const auto& v : row)
            if (v.Tag() == tag) return &v;
        return nullptr;
    }

    // The bytes of a node's data stream and of all its subnodes, theirs included.
    uint64_t NodeBytes(ndb::Bid data, ndb::Bid sub) const {
        uint64_t n = data ? db_->StreamSize(data) : 0;
        for (const auto& [nid, e] : db_->ReadSubnodes(sub)) n += NodeBytes(e.data, e.sub);
        return n;
    }

    void Fail(Nid nid, const std::string& what) {
        errors_.push_back("message " + ndb::Hex(nid) + ": " + what);
    }

    void CheckMessage(Nid nid, ndb::Bid data, ndb::Bid sub, const Row* row) {
        auto& db = const_cast<ndb::NodeDatabase&>(*db_);
        ndb::SubnodeMap subnodes = db.ReadSubnodes(sub);
        ltp::PropertyContext pc(db, subnodes, data);

        // Size: every byte of the node and its subnodes, in the PC and the contents row alike.
        const auto size = pc.Get(0x0E08);
        const uint64_t bytes = NodeBytes(data, sub);
        if (!size || uint32_t(size->AsInt32()) != bytes)
            Fail(nid, "size " + (size ? std::to_string(size->AsInt32()) : "missing") +
                          ", node bytes " + std::to_string(bytes));
        const PropertyValue* rowSize = row ? Cell(*row, 0x0E080003) : nullptr;
        if (row && (!rowSize || !size || rowSize->AsInt32() != size->AsInt32()))
            Fail(nid, "contents row size differs from the message's");

        // Subject: the prefix marker (U+0001, prefix length + 1) and no stored prefix.
        if (auto subject = pc.Get(0x0037)) {
            const std::u16string s = subject->AsString();
            if (s.size() < 2 || s[0] != 1 || s[1] < 1 || size_t(s[1] - 1) > s.size() - 2)
                Fail(nid, "subject without the prefix marker");
            const PropertyValue* rowSubject = row ? Cell(*row, 0x0037001F) : nullptr;
            if (row && (!rowSubject || rowSubject->AsString() != s))
                Fail(nid, "contents row subject differs from the message's");
        }
        if (pc.TagOf(0x003D)) Fail(nid, "stores a subject prefix");

        // The locale, and the change that made a message of the store (an embedded one is
        // part of its attachment and has none).
        if (!pc.Get(0x3FF1)) Fail(nid, "no message locale");
        if (row) CheckChangeKey(nid, pc);
        if (row) {
            // The preview, where the folder's table has a column for it.
            const PropertyValue* preview = Cell(*row, 0x6619001F);
            const auto value = pc.Get(0x6619);
            if (preview && (!value || value->Bytes() != preview->Bytes()))
                Fail(nid, "contents row's preview differs from the message's");
        }
        {
            const auto recipients = subnodes.find(0x692);
            if (recipients != subnodes.end()) {
                ndb::SubnodeMap tableSub = db.ReadSubnodes(recipients->second.sub);
                ltp::TableContext table(db, tableSub, recipients->second.data);
                CheckRowVersions(Rows(table), "recipient table of " + ndb::Hex(nid));
            }
            const auto attachments = subnodes.find(0x671);
            if (attachments != subnodes.end()) {
                ndb::SubnodeMap tableSub = db.ReadSubnodes(attachments->second.sub);
                ltp::TableContext table(db, tableSub, attachments->second.data);
                CheckRowVersions(Rows(table), "attachment table of " + ndb::Hex(nid));
            }
        }

        // Conversations: tracked by the index's GUID, which the contents row holds as the
        // conversation ID.
        const auto index = pc.Get(0x0071);
        const auto tracking = pc.Get(0x3016);
        if (!index || index->size() < 22 || index->Bytes()[0] != 1)
            Fail(nid, "no conversation index with a GUID");
        else if (!tracking || !tracking->AsBool())
            Fail(nid, "conversation index tracking not set");
        else if (row) {
            const PropertyValue* id = Cell(*row, 0x30130102);
            const std::vector<uint8_t> guid(index->Bytes().begin() + 6,
                                            index->Bytes().begin() + 22);
            if (!id || id->Bytes() != guid)
                Fail(nid, "contents row without the conversation ID of its index");
        }

        // Preview: the plain body's first 255 characters.
        if (auto body = pc.Get(0x1000); body && body->size() > 0) {
            const auto preview = pc.Get(0x6619);
            const std::u16string text = body->AsString();
            if (!preview || preview->AsString() != text.substr(0, preview->AsString().size()) ||
                preview->AsString().size() < std::min<size_t>(text.size(), 254))
                Fail(nid, "no preview of the body's first 255 characters");
        }

        // Attachments: the object's size and the attachment size as Outlook computes them.
        for (const auto& [subNid, entry] : subnodes) {
            if (ndb::NidTypeOf(subNid) != ndb::kNidTypeAttachment) continue;
            ndb::SubnodeMap attachSub = db.ReadSubnodes(entry.sub);
            ltp::PropertyContext apc(db, attachSub, entry.data);
            uint64_t sum = 0;
            for (uint32_t t : apc.Tags()) {
                if (t != 0x3701000D) {
                    sum += apc.ValueSize(uint16_t(t >> 16));
                    continue;
                }
                const std::vector<uint8_t> b = apc.Get(0x3701)->Bytes();
                const uint32_t embeddedNid = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
                const uint32_t objectSize = b[4] | b[5] << 8 | b[6] << 16 | uint32_t(b[7]) << 24;
                const auto e = attachSub.find(embeddedNid);
                if (e == attachSub.end()) {
                    Fail(nid, "embedded message not among the attachment's subnodes");
                    continue;
                }
                const uint64_t embeddedBytes = NodeBytes(e->second.data, e->second.sub);
                if (objectSize != embeddedBytes)
                    Fail(nid, "embedded object size " + std::to_string(objectSize) +
                                  ", node bytes " + std::to_string(embeddedBytes));
                sum += objectSize;
                CheckMessage(embeddedNid, e->second.data, e->second.sub, nullptr);
            }
            const auto attachSize = apc.Get(0x0E20);
            if (!attachSize || uint32_t(attachSize->AsInt32()) != sum)
                Fail(nid, "attachment " + ndb::Hex(subNid) + " size " +
                              (attachSize ? std::to_string(attachSize->AsInt32()) : "missing") +
                              ", its properties' sizes " + std::to_string(sum));
        }
    }

    const ndb::NodeDatabase* db_ = nullptr;
    std::vector<std::string> errors_;
    std::set<std::vector<uint8_t>> changeKeys_;
};

// Fails the running test once for every violation.
inline void ExpectOutlookRules(const std::filesystem::path& file) {
    for (const auto& e : OutlookRules::Check(file)) ADD_FAILURE() << file << ": " << e;
}

}  // namespace pst::messaging::testing
