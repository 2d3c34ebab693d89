#pragma once

// Checks a data file against rules every message in Outlook's own files follows, read with our
// reader at node level: sizes, the stored form of subjects, conversations and previews. Used on
// Outlook-made samples (to confirm each rule) and on the files our tests write.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
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
        std::vector<Nid> folders{store->IpmSubtree()};
        for (const auto& [path, info] : store->FolderTree(store->IpmSubtree()))
            folders.push_back(info.nid);
        for (Nid folder : folders) {
            const auto rows = store->ContentsRows(folder);
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
                const auto b = apc.Get(0x3701)->Bytes();
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
};

// Fails the running test once for every violation.
inline void ExpectOutlookRules(const std::filesystem::path& file) {
    for (const auto& e : OutlookRules::Check(file)) ADD_FAILURE() << file << ": " << e;
}

}  // namespace pst::messaging::testing
