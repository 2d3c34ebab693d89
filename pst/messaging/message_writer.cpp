// Writing messages: the message node (PC, recipient table, attachments) and the bookkeeping in
// the folder that receives it.

#include <chrono>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <vector>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/errors.h"
#include "pst/messaging/message_store.h"
#include "pst/messaging/store_folder.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"

namespace pst::messaging {

// The values of one object as they are written: the content's own values where they stand
// (they are not copied), and the values the store makes or changes, held here.
class MessageValues {
  public:
    std::span<const PropertyValue* const> all() const { return items_; }
    const PropertyValue* Find(uint32_t tag) const {
        for (const PropertyValue* v : items_)
            if (v->Tag() == tag) return v;
        return nullptr;
    }
    void Refer(const PropertyValue& v) { items_.push_back(&v); }
    void Add(PropertyValue v) {
        made_.push_back(std::make_unique<PropertyValue>(std::move(v)));
        items_.push_back(made_.back().get());
    }
    // Replaces a value with the same tag, or appends.
    void Set(PropertyValue v) {
        for (auto& item : items_) {
            if (item->Tag() == v.Tag()) {
                made_.push_back(std::make_unique<PropertyValue>(std::move(v)));
                item = made_.back().get();
                return;
            }
        }
        Add(std::move(v));
    }
    void SetDefault(PropertyValue v) {
        if (!Find(v.Tag())) Add(std::move(v));
    }
    void EraseId(uint16_t id) {
        std::erase_if(items_, [id](const PropertyValue* v) { return v->Id() == id; });
    }
    void pop_back() { items_.pop_back(); }

  private:
    std::vector<const PropertyValue*> items_;
    std::vector<std::unique_ptr<PropertyValue>> made_;
};

namespace {

// Values a store computes when asked and never stores: entry IDs, record keys, object type,
// attachment number, has-attachments, normalized subject.
bool IsCalculated(uint16_t id) {
    switch (id) {
        case 0x0FFF:  // entry ID
        case 0x0FF9:  // record key
        case 0x0E09:  // parent entry ID
        case 0x0FFE:  // object type
        case 0x0FFB:  // store entry ID
        case 0x0FFA:  // store record key
        case 0x0E21:  // attachment number
        case 0x0E1B:  // has attachments
        case 0x0E1D:  // normalized subject
            return true;
        default:
            return false;
    }
}

PropertyValue Retag(const PropertyValue& v, uint32_t newTag) {
    if (v.IsStream()) return PropertyValue::Stream(newTag, v.size(), v.Producer());
    return PropertyValue(newTag, v.Bytes());
}

// A property set's values with named properties mapped to ids through the store's map.
void Resolve(const PropertySet& set, NameIdMap& names, bool dropCalculated, MessageValues& out) {
    for (const auto& v : set.values) {
        if (v.Id() >= NameIdMap::kFirstNamedId)
            throw MessagingError("property " + ndb::Hex(v.Tag()) +
                                 " has a named-property id: give it as a named value");
        if (dropCalculated && IsCalculated(v.Id())) continue;
        out.Refer(v);
    }
    for (const auto& n : set.named)
        out.Add(Retag(n.value, MakeTag(names.IdFor(n.name), n.value.Type())));
}

uint64_t ValuesSize(const MessageValues& values) {
    uint64_t n = 0;
    for (const PropertyValue* v : values.all()) n += v->size();
    return n;
}

// Outlook's stored form of a subject: U+0001 and the prefix length + 1 in front of the text, so
// readers find the prefix ("RE: ") and the normalized subject without a prefix property.
void MarkSubject(MessageValues& values) {
    size_t prefixLength = 0;
    std::u16string prefix;
    if (auto* p = values.Find(tag::kSubjectPrefix)) prefix = p->AsString();
    values.EraseId(PropIdOf(tag::kSubjectPrefix));
    const PropertyValue* subject = values.Find(tag::kSubject);
    if (!subject) return;
    std::u16string text = subject->AsString();
    if (text.size() >= 2 && text[0] == u'\x01') return;  // already in the stored form
    if (text.starts_with(prefix)) prefixLength = prefix.size();
    std::u16string marked{u'\x01', char16_t(prefixLength + 1)};
    values.Set(PropertyValue::String(tag::kSubject, marked + text));
}

// A conversation index whose header carries the conversation's GUID.
bool IsTrackedIndex(const PropertyValue* index) {
    return index && !index->IsStream() && index->size() >= 22 && index->Bytes()[0] == 0x01;
}

// Outlook's preview of a message: the plain body's first 255 characters as they stand, taken
// from the body's UTF-16LE bytes without a copy of the whole body.
PropertyValue BodyPrefix(const PropertyValue& body) {
    const ValueBytes bytes = body.Bytes();
    const size_t units = bytes.size() / 2;
    size_t n = std::min<size_t>(units, 255);
    const auto unit = [&bytes](size_t i) { return bytes[2 * i] | (bytes[2 * i + 1] << 8); };
    if (n < units && n > 0 && unit(n - 1) >= 0xD800 && unit(n - 1) < 0xDC00) --n;
    return PropertyValue(tag::kPstBodyPrefix, bytes.first(2 * n));
}

uint64_t StreamBytes(const ndb::NodeDatabase& db, const ndb::SubnodeMap& subnodes) {
    uint64_t n = 0;
    for (const auto& [subNid, entry] : subnodes) n += db.StreamSize(entry.data);
    return n;
}

int32_t ClampSize(uint64_t size) {
    return int32_t(std::min<uint64_t>(size, 0x7FFFFFFF));
}

// Now, or the fixed moment of a reproducible run.
uint64_t FileTimeNow(std::optional<int64_t> fixed) {
    using namespace std::chrono;
    constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
    if (fixed) return uint64_t(*fixed) * 10000000 + kUnixEpochAsFileTime;
    const auto unix100ns =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return uint64_t(unix100ns) + kUnixEpochAsFileTime;
}

std::vector<uint8_t> RandomKey(std::mt19937_64& engine) {
    std::vector<uint8_t> key(16);
    for (int i = 0; i < 16; i += 8) {
        const uint64_t v = engine();
        for (int k = 0; k < 8; ++k) key[i + k] = uint8_t(v >> (8 * k));
    }
    return key;
}

// Recipient rows by type joined as the To/Cc/Bcc display strings are.
std::u16string DisplayList(const std::vector<MessageValues>& recipients, int type) {
    std::u16string out;
    for (const auto& r : recipients) {
        const PropertyValue* t = nullptr;
        const PropertyValue* name = nullptr;
        for (const PropertyValue* v : r.all()) {
            if (v->Tag() == tag::kRecipientType) t = v;
            if (v->Tag() == tag::kDisplayName) name = v;
        }
        if (!t || (t->AsInt32() & 0x0F) != type || !name) continue;
        if (!out.empty()) out += u"; ";
        out += name->AsString();
    }
    return out;
}

}  // namespace

ndb::NodeEntry MessageStore::WriteMessage(Nid nid, const MessageContent& message,
                                          MessageValues& values, bool embedded) {
    ndb::NodeDatabase& db = *db_;
    ndb::SubnodeMap subnodes;
    Resolve(message.props, names_, true, values);
    MarkSubject(values);
    // Every byte the node's subnodes hold, their own subnodes included: with the PC's bytes,
    // the message size as Outlook states it.
    uint64_t subnodeBytes = 0;

    // Recipients: the table is their only storage, so every property they have is a column.
    std::vector<MessageValues> recipients(message.recipients.size());
    std::vector<uint32_t> recipientColumns = RecipientColumns();
    for (size_t i = 0; i < message.recipients.size(); ++i) {
        MessageValues& row = recipients[i];
        Resolve(message.recipients[i].props, names_, false, row);
        row.SetDefault(PropertyValue::Int32(tag::kRecipientType, 1));
        row.SetDefault(PropertyValue::Int32(0x0FFE0003, 6));  // object type: mail user
        row.SetDefault(PropertyValue::Int32(0x39000003, 0));  // display type: mail user
        for (const PropertyValue* v : row.all()) {
            if (v->Tag() == ltp::TableContext::kRowIdTag ||
                v->Tag() == ltp::TableContext::kRowVerTag)
                throw MessagingError("recipient rows cannot set the table's row id or version");
            recipientColumns.push_back(v->Tag());
        }
    }
    {
        std::sort(recipientColumns.begin(), recipientColumns.end());
        recipientColumns.erase(std::unique(recipientColumns.begin(), recipientColumns.end()),
                               recipientColumns.end());
        ndb::SubnodeMap sub;
        ltp::TableContext table(db, sub, recipientColumns);
        for (size_t i = 0; i < recipients.size(); ++i) {
            recipients[i].Add(NextRowVersion());
            table.AppendRowFrom(uint32_t(i), recipients[i].all());
            recipients[i].pop_back();
        }
        const ndb::Bid data = table.Write();
        subnodes[nid::kMessageRecipients] = {data, db.WriteSubnodes(sub)};
        subnodeBytes += db.StreamSize(data) + StreamBytes(db, sub);
    }

    // Attachments: one PC each, and the attachment table listing them.
    if (!message.attachments.empty()) {
        ndb::SubnodeMap tableSub;
        ltp::TableContext table(db, tableSub, AttachmentColumns());
        for (size_t i = 0; i < message.attachments.size(); ++i) {
            const Attachment& a = message.attachments[i];
            const Nid attachNid = ndb::MakeNid(ndb::kNidTypeAttachment, uint32_t(0x401 + i));
            ndb::SubnodeMap attachSub;
            MessageValues attach;
            Resolve(a.props, names_, true, attach);
            // An attachment's size is the sum of its properties' sizes, an embedded message
            // counted at its own size; the size property counts itself.
            uint64_t embeddedSize = 0;
            Nid embeddedNid = 0;
            if (a.embedded) {
                // The embedded message is a complete message node inside the attachment's
                // subnodes, named by a message NID unique in the file.
                embeddedNid = db.AllocateNid(ndb::kNidTypeNormalMessage);
                MessageValues embeddedValues;
                const ndb::NodeEntry e =
                    WriteMessage(embeddedNid, *a.embedded, embeddedValues, true);
                attachSub[embeddedNid] = {e.data, e.sub};
                if (auto* s = embeddedValues.Find(tag::kMessageSize))
                    embeddedSize = uint32_t(s->AsInt32());
                attach.EraseId(PropIdOf(tag::kAttachDataBinary));
                attach.Set(PropertyValue::Int32(tag::kAttachMethod, kAttachEmbeddedMessage));
            } else {
                attach.SetDefault(PropertyValue::Int32(tag::kAttachMethod, kAttachByValue));
            }
            attach.SetDefault(PropertyValue::Int32(tag::kRenderingPosition, -1));
            attach.Set(PropertyValue::Int32(tag::kAttachSize, 0));
            const uint64_t attachSize = ValuesSize(attach) + embeddedSize;
            attach.Set(PropertyValue::Int32(tag::kAttachSize, ClampSize(attachSize)));
            if (a.embedded) {
                std::vector<uint8_t> object(8);
                for (int k = 0; k < 4; ++k) {
                    object[k] = uint8_t(embeddedNid >> (8 * k));
                    object[4 + k] = uint8_t(uint32_t(embeddedSize) >> (8 * k));
                }
                // The object value itself is counted at the embedded message's size above.
                attach.Add(PropertyValue(tag::kAttachDataObject, std::move(object)));
            }
            ltp::PropertyContext pc(db, attachSub, attach.all());
            for (const auto& [subNid, entry] : attachSub)
                subnodeBytes += subNid == embeddedNid ? embeddedSize : db.StreamSize(entry.data);
            subnodeBytes += pc.DataSize();
            const ndb::Bid data = pc.Write();
            subnodes[attachNid] = {data, db.WriteSubnodes(attachSub)};
            std::vector<const PropertyValue*> row;
            for (const PropertyValue* v : attach.all())
                if (!v->IsStream() && table.HasColumn(v->Tag()) &&
                    v->Tag() != ltp::TableContext::kRowIdTag &&
                    v->Tag() != ltp::TableContext::kRowVerTag)
                    row.push_back(v);
            const PropertyValue version = NextRowVersion();
            row.push_back(&version);
            table.AppendRowFrom(attachNid, row);
        }
        const ndb::Bid data = table.Write();
        subnodes[nid::kMessageAttachments] = {data, db.WriteSubnodes(tableSub)};
        subnodeBytes += db.StreamSize(data) + StreamBytes(db, tableSub);
    }

    // What the store computes: flags agree with the attachments, and every message has a
    // search key, a size, times and a status.
    uint32_t flags = kMsgFlagRead;
    if (auto* f = values.Find(tag::kMessageFlags)) flags = uint32_t(f->AsInt32());
    flags = message.attachments.empty() ? flags & ~kMsgFlagHasAttach : flags | kMsgFlagHasAttach;
    values.Set(PropertyValue::Int32(tag::kMessageFlags, int32_t(flags)));
    values.SetDefault(PropertyValue::StringUtf8(tag::kMessageClass, "IPM.Note"));
    values.SetDefault(PropertyValue::Int32(tag::kMessageStatus, 0));
    values.SetDefault(PropertyValue(tag::kSearchKey, RandomKey(random_)));
    const uint64_t now = FileTimeNow(fixedEpoch_);
    values.SetDefault(PropertyValue::Time(tag::kCreationTime, now));
    values.SetDefault(PropertyValue::Time(tag::kLastModificationTime, now));
    values.SetDefault(PropertyValue::String(0x0E04001F, DisplayList(recipients, 1)));
    values.SetDefault(PropertyValue::String(0x0E03001F, DisplayList(recipients, 2)));
    values.SetDefault(PropertyValue::String(0x0E02001F, DisplayList(recipients, 3)));
    // Outlook states US English on every message it stores, and on the messages mail brought
    // in the Western code page. Readers take that code page for the HTML body's bytes too, which
    // are in the internet code page: a message whose HTML is in another one goes without it, as
    // the messages Outlook composes itself do.
    values.SetDefault(PropertyValue::Int32(tag::kMessageLocaleId, 1033));
    if (!embedded) {
        const PropertyValue* cpid = values.Find(tag::kInternetCodepage);
        const int32_t htmlCodepage = values.Find(tag::kHtml) && cpid ? cpid->AsInt32() : 1252;
        if (htmlCodepage == 1252 || htmlCodepage == 20127 || htmlCodepage == 28591)
            values.SetDefault(PropertyValue::Int32(tag::kMessageCodepage, 1252));
        // The change that made the message: this session's replica GUID and the next change
        // number (six bytes, most significant first), and a predecessor change list of that
        // change alone.
        if (!values.Find(tag::kChangeKey)) {
            if (changeReplica_.empty()) changeReplica_ = RandomKey(random_);
            std::vector<uint8_t> key = changeReplica_;
            ++changeCounter_;
            for (int i = 5; i >= 0; --i) key.push_back(uint8_t(changeCounter_ >> (8 * i)));
            values.Add(PropertyValue(tag::kChangeKey, std::move(key)));
        }
        if (!values.Find(tag::kPredecessorChangeList)) {
            const auto& key = values.Find(tag::kChangeKey)->Bytes();
            std::vector<uint8_t> list{uint8_t(key.size())};
            list.insert(list.end(), key.begin(), key.end());
            values.Add(PropertyValue(tag::kPredecessorChangeList, std::move(list)));
        }
    }
    if (auto* body = values.Find(tag::kBody); body && !body->IsStream() && body->size() > 0)
        values.SetDefault(BodyPrefix(*body));
    // Conversations are tracked by the GUID in the index (the contents row's conversation ID);
    // a message given none starts a conversation of its own, as one Outlook creates does.
    if (!values.Find(tag::kConversationIndex)) {
        const PropertyValue* sent = values.Find(tag::kClientSubmitTime);
        const uint64_t time = sent ? sent->AsTime() : now;
        std::vector<uint8_t> index{0x01};
        for (int i = 7; i >= 3; --i) index.push_back(uint8_t(time >> (8 * i)));
        const auto guid = RandomKey(random_);
        index.insert(index.end(), guid.begin(), guid.end());
        values.Add(PropertyValue(tag::kConversationIndex, std::move(index)));
    }
    if (IsTrackedIndex(values.Find(tag::kConversationIndex)))
        values.SetDefault(PropertyValue::Bool(tag::kConversationIndexTracking, true));
    values.Set(PropertyValue::Int32(tag::kMessageSize, 0));

    // The size is known once the PC is laid out; it is a fixed-size value, so setting it does
    // not change the layout.
    std::set<Nid> before;
    for (const auto& [subNid, entry] : subnodes) before.insert(subNid);
    ltp::PropertyContext pc(db, subnodes, values.all());
    for (const auto& [subNid, entry] : subnodes)
        if (!before.contains(subNid)) subnodeBytes += db.StreamSize(entry.data);
    const auto messageSize =
        PropertyValue::Int32(tag::kMessageSize, ClampSize(pc.DataSize() + subnodeBytes));
    pc.Set(messageSize);
    values.Set(messageSize);
    const ndb::Bid data = pc.Write();
    return {nid, data, db.WriteSubnodes(subnodes), 0};
}

Nid MessageStore::AddMessage(Nid folderNid, const MessageContent& message) {
    if (closed_) throw MessagingError("the store is closed");
    if (ndb::NidTypeOf(folderNid) != ndb::kNidTypeNormalFolder)
        throw MessagingError("messages can only be added to normal folders");
    Folder& f = GetFolder(folderNid);
    // Everything the message's rows go into is read before its node exists, so a table that
    // cannot be read fails the message without leaving a node that no row names.
    auto& table = Contents(f);
    if (f.parent != f.nid && f.parent != 0) Hierarchy(GetFolder(f.parent));
    const Nid nid = db_->AllocateNid(ndb::kNidTypeNormalMessage);
    MessageValues values;
    ndb::NodeEntry entry = WriteMessage(nid, message, values);
    entry.parent = folderNid;
    std::vector<const PropertyValue*> row;
    for (const PropertyValue* v : values.all())
        if (!v->IsStream() && table.HasColumn(v->Tag()) &&
            v->Tag() != ltp::TableContext::kRowIdTag && v->Tag() != ltp::TableContext::kRowVerTag)
            row.push_back(v);
    const PropertyValue* index = values.Find(tag::kConversationIndex);
    const PropertyValue* tracking = values.Find(tag::kConversationIndexTracking);
    PropertyValue conversationId;
    if (IsTrackedIndex(index) && tracking && tracking->AsBool() &&
        table.HasColumn(tag::kConversationId)) {
        conversationId = PropertyValue(tag::kConversationId, index->Bytes().subspan(6, 16));
        row.push_back(&conversationId);
    }
    const PropertyValue version = NextRowVersion();
    row.push_back(&version);
    db_->PutNode(entry);
    try {
        table.AppendRowFrom(nid, row);
    } catch (...) {
        db_->RemoveNode(nid);  // its blocks go with the node at the next commit
        throw;
    }
    f.contentsDirty = true;
    QueueSearchUpdate(kSearchUpdateMessageAdded, folderNid, nid);

    bool read = true;
    for (const PropertyValue* v : values.all())
        if (v->Tag() == tag::kMessageFlags) read = (v->AsInt32() & kMsgFlagRead) != 0;
    auto count = [&f](uint32_t t) {
        auto v = f.pc->Get(PropIdOf(t));
        return v ? uint32_t(v->AsInt32()) : 0u;
    };
    f.pc->Set(PropertyValue::Int32(tag::kContentCount, int32_t(count(tag::kContentCount) + 1)));
    // A folder holding messages states its hidden (associated) item counts; none are added here.
    for (uint32_t t : {tag::kPstHiddenCount, tag::kPstHiddenUnread})
        if (!f.pc->TagOf(PropIdOf(t))) f.pc->Set(PropertyValue::Int32(t, 0));
    if (!read)
        f.pc->Set(PropertyValue::Int32(tag::kContentUnreadCount,
                                       int32_t(count(tag::kContentUnreadCount) + 1)));
    f.pcDirty = true;
    RefreshRowInParent(f);

    ++sinceCommit_;
    if (autoCommitInterval_ != 0 && sinceCommit_ >= autoCommitInterval_) Commit();
    return nid;
}

namespace {

// Each value with the bookkeeping of its heap or table (item, index entry, cell): 32 bytes
// cover it; values past a heap item's limit become subnodes with their own block trailers.
uint64_t ValueBytes(const PropertySet& set) {
    uint64_t n = 0;
    for (const auto& v : set.values) n += v.size() + 32;
    for (const auto& v : set.named) n += v.value.size() + 32;
    return n;
}

uint64_t ContentBytes(const MessageContent& message) {
    // The message's own heap and node, and its recipient and attachment tables.
    uint64_t n = ValueBytes(message.props) + 3 * 8192;
    for (const auto& r : message.recipients) n += ValueBytes(r.props) + 512;
    for (const auto& a : message.attachments) {
        // Its object's heap and subnode entry, its row in the attachment table.
        n += ValueBytes(a.props) + 1024;
        if (a.embedded) n += ContentBytes(*a.embedded);
    }
    return n;
}

}  // namespace

uint64_t MessageStore::AddedBytesBound(const MessageContent& message) {
    // Block trailers and padding take at most 1/16 of the data; the commit rewrites the folder's
    // property context, the changed blocks of its contents table and of its parent's hierarchy
    // table, and the B-tree pages on the way to the new entries: 128 KiB covers them.
    const uint64_t data = ContentBytes(message);
    return data + data / 16 + 128 * 1024;
}

uint64_t MessageStore::PendingBytesBound() const {
    // What the next commit writes beyond the blocks already placed: the tables of every folder
    // changed since the last one, and per message its contents row and B-tree entries.
    uint64_t n = 256 * 1024 + uint64_t(sinceCommit_) * 8192;
    for (const auto& [nid, f] : folders_)
        if (f->pcDirty || f->hierarchyDirty || f->contentsDirty) n += 64 * 1024;
    return n;
}

}  // namespace pst::messaging
