// Reading messages back: the contents table, and a message node with its recipients and
// attachments, embedded messages included.

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/errors.h"
#include "pst/messaging/message_store.h"
#include "pst/messaging/store_folder.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"

namespace pst::messaging {
namespace {

bool IsRowBookkeeping(uint32_t t) {
    return t == ltp::TableContext::kRowIdTag || t == ltp::TableContext::kRowVerTag;
}

// Splits stored values into tagged ones and named ones (ids the map knows).
PropertySet ToPropertySet(std::vector<PropertyValue> values, const NameIdMap& names) {
    PropertySet set;
    for (auto& v : values) {
        if (v.Id() >= NameIdMap::kFirstNamedId) {
            if (const PropertyName* name = names.NameOf(v.Id())) {
                set.named.push_back({*name, std::move(v)});
                continue;
            }
        }
        set.values.push_back(std::move(v));
    }
    return set;
}

// The subject as sent: the stored form's prefix marker (U+0001, prefix length + 1) taken off.
void UnmarkSubject(PropertySet& set) {
    const PropertyValue* subject = set.Find(tag::kSubject);
    if (!subject) return;
    std::u16string text = subject->AsString();
    if (text.size() < 2 || text[0] != u'\x01') return;
    set.Set(PropertyValue::String(tag::kSubject, text.substr(2)));
}

}  // namespace

std::vector<Nid> MessageStore::Messages(Nid folderNid) const {
    auto& table = Contents(GetFolder(folderNid));
    std::vector<Nid> out;
    out.reserve(table.RowCount());
    for (size_t i = 0; i < table.RowCount(); ++i) out.push_back(table.RowIdAt(i));
    return out;
}

std::vector<std::vector<PropertyValue>> MessageStore::ContentsRows(Nid folderNid) const {
    auto& table = Contents(GetFolder(folderNid));
    std::vector<std::vector<PropertyValue>> out;
    out.reserve(table.RowCount());
    for (size_t i = 0; i < table.RowCount(); ++i) out.push_back(table.Row(i));
    return out;
}

MessageContent MessageStore::ReadMessage(Nid message) const {
    const uint32_t type = ndb::NidTypeOf(message);
    if (type != ndb::kNidTypeNormalMessage && type != ndb::kNidTypeAssocMessage)
        throw MessagingError("NID " + ndb::Hex(message) + " is not a message");
    auto node = db_->FindNode(message);
    if (!node) throw MessagingError("message " + ndb::Hex(message) + " does not exist");
    return ReadMessageNode(node->data, node->sub, 0);
}

std::vector<std::vector<uint8_t>> MessageStore::NamedBinaries(Nid folder,
                                                              const PropertyName& name) const {
    std::vector<std::vector<uint8_t>> out;
    const auto id = names_.Find(name);
    if (!id) return out;  // a name no message of this file was ever given
    for (Nid message : Messages(folder)) {
        auto node = db_->FindNode(message);
        if (!node) continue;
        // A short binary value lives in the heap: the subnodes are not needed to read it.
        ndb::SubnodeMap none;
        ltp::PropertyContext pc(*db_, none, node->data);
        std::optional<PropertyValue> value;
        try {
            value = pc.Get(*id);
        } catch (const std::exception&) {
            continue;  // held in a subnode: too long to be a value this reader is asked for
        }
        if (value && (value->Tag() & 0xFFFF) == kPtypBinary) out.push_back(value->Bytes());
    }
    return out;
}

MessageContent MessageStore::ReadMessageNode(ndb::Bid data, ndb::Bid sub, int depth) const {
    // Deeper nesting than any client makes is taken for subnodes that contain themselves.
    constexpr int kMaxEmbedding = 32;
    if (depth > kMaxEmbedding)
        throw MessagingError("messages embedded deeper than " + std::to_string(kMaxEmbedding) +
                             " levels");
    ndb::NodeDatabase& db = *db_;
    ndb::SubnodeMap subnodes = db.ReadSubnodes(sub);
    MessageContent m;
    {
        ltp::PropertyContext pc(db, subnodes, data);
        m.props = ToPropertySet(pc.GetAll(), names_);
        UnmarkSubject(m.props);
    }
    auto recipients = subnodes.find(nid::kMessageRecipients);
    if (recipients == subnodes.end())
        throw MessagingError("message has no recipient table (subnode 0x692)");
    {
        ndb::SubnodeMap rsub = db.ReadSubnodes(recipients->second.sub);
        ltp::TableContext table(db, rsub, recipients->second.data);
        for (size_t i = 0; i < table.RowCount(); ++i) {
            auto row = table.Row(i);
            std::erase_if(row, [](const PropertyValue& v) { return IsRowBookkeeping(v.Tag()); });
            m.recipients.push_back({ToPropertySet(std::move(row), names_)});
        }
    }
    auto attachments = subnodes.find(nid::kMessageAttachments);
    if (attachments == subnodes.end()) return m;
    ndb::SubnodeMap tsub = db.ReadSubnodes(attachments->second.sub);
    ltp::TableContext table(db, tsub, attachments->second.data);
    for (size_t i = 0; i < table.RowCount(); ++i) {
        const Nid attachNid = table.RowIdAt(i);
        auto entry = subnodes.find(attachNid);
        if (entry == subnodes.end())
            throw MessagingError("attachment row " + ndb::Hex(attachNid) +
                                 " has no attachment subnode");
        ndb::SubnodeMap asub = db.ReadSubnodes(entry->second.sub);
        ltp::PropertyContext pc(db, asub, entry->second.data);
        Attachment a;
        auto values = pc.GetAll();
        for (auto it = values.begin(); it != values.end();) {
            if (it->Tag() != tag::kAttachDataObject) {
                ++it;
                continue;
            }
            const auto& b = it->Bytes();
            if (b.size() < 4) throw MessagingError("attached object without a subnode NID");
            const Nid embeddedNid = Nid(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
            auto e = asub.find(embeddedNid);
            if (e == asub.end())
                throw MessagingError("embedded message " + ndb::Hex(embeddedNid) +
                                     " is not among the attachment's subnodes");
            a.embedded = std::make_shared<MessageContent>(
                ReadMessageNode(e->second.data, e->second.sub, depth + 1));
            it = values.erase(it);
        }
        a.props = ToPropertySet(std::move(values), names_);
        m.attachments.push_back(std::move(a));
    }
    return m;
}

}  // namespace pst::messaging
