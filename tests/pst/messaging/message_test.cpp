// Messages written and read back: properties, named properties, recipients, attachments by
// value (streamed ones too) and embedded messages.

#include "pst/messaging/errors.h"
#include "tests/pst/messaging/store_fixture.h"
#include "tests/pst/outlook_rules.h"

namespace pst::messaging {
namespace {

using testing::ExpectVerified;
using testing::MakeAttachment;
using testing::MakeMessage;
using testing::Pattern;
using testing::TempDir;

const std::array<uint8_t, 16> kInternetHeaders{0x86, 0x03, 0x02, 0, 0, 0, 0, 0,
                                               0xC0, 0,    0,    0, 0, 0, 0, 0x46};

// Every value of `want` is in `have` with the same bytes, except those the store computes
// (flags) or never stores (entry ID), which the tests check on their own.
void ExpectContains(const PropertySet& have, const PropertySet& want, const std::string& what) {
    for (const auto& v : want.values) {
        if (v.IsStream() || v.Tag() == 0x0E070003 || v.Tag() == 0x0FFF0102) continue;
        const PropertyValue* got = have.Find(v.Tag());
        ASSERT_NE(got, nullptr) << what << ": tag 0x" << std::hex << v.Tag() << " missing";
        EXPECT_EQ(got->Bytes(), v.Bytes()) << what << ": tag 0x" << std::hex << v.Tag();
    }
    for (const auto& n : want.named) {
        auto it = std::find_if(have.named.begin(), have.named.end(),
                               [&n](const NamedValue& h) { return h.name == n.name; });
        ASSERT_NE(it, have.named.end()) << what << ": a named property is missing";
        EXPECT_EQ(it->value.Type(), n.value.Type());
        EXPECT_EQ(it->value.Bytes(), n.value.Bytes());
    }
}

void ExpectSameMessage(const MessageContent& have, const MessageContent& want,
                       const std::string& what) {
    ExpectContains(have.props, want.props, what);
    ASSERT_EQ(have.recipients.size(), want.recipients.size()) << what;
    for (size_t i = 0; i < want.recipients.size(); ++i)
        ExpectContains(have.recipients[i].props, want.recipients[i].props,
                       what + " recipient " + std::to_string(i));
    ASSERT_EQ(have.attachments.size(), want.attachments.size()) << what;
    for (size_t i = 0; i < want.attachments.size(); ++i) {
        const std::string label = what + " attachment " + std::to_string(i);
        ExpectContains(have.attachments[i].props, want.attachments[i].props, label);
        ASSERT_EQ(bool(have.attachments[i].embedded), bool(want.attachments[i].embedded)) << label;
        if (want.attachments[i].embedded)
            ExpectSameMessage(*have.attachments[i].embedded, *want.attachments[i].embedded,
                              label + " embedded");
    }
}

MessageContent RichMessage() {
    MessageContent m = MakeMessage("Grüße – 日本語 subject", std::string(5000, 'b'));
    m.props.Set(PropertyValue::StringUtf8(0x1013001F, "<html><body>HTML body</body></html>"));
    m.props.Set(PropertyValue(0x0FFF0102, std::vector<uint8_t>(24, 7)));  // an entry ID: dropped
    m.props.Set(PropertyValue::Int32(0x0E070003, 0));                     // unread
    m.props.named.push_back({{kInternetHeaders, std::u16string(u"X-Mailer")},
                             PropertyValue::StringUtf8(0x001F, "Test Mailer 1.0")});
    m.props.named.push_back({{kInternetHeaders, std::u16string(u"content-class")},
                             PropertyValue::StringUtf8(0x001F, "urn:content-classes:message")});
    m.props.named.push_back(
        {{kPsPublicStrings, uint32_t(0x9000)}, PropertyValue::Int32(0x0003, 42)});
    m.recipients.push_back(testing::MakeRecipient(3, "Dan Bcc", "dan@example.org"));

    m.attachments.push_back(MakeAttachment("small.txt", {'h', 'i'}));
    // A big one handed over as a stream, never held whole by the caller.
    Attachment big;
    big.props.Set(PropertyValue::StringUtf8(0x3707001F, "big.bin"));
    big.props.Set(PropertyValue::Stream(0x37010102, 10 * 1024 * 1024 + 3, [](const auto& sink) {
        for (uint32_t chunk = 0; chunk < 10 * 16; ++chunk) sink(Pattern(65536, chunk));
        sink(std::vector<uint8_t>{1, 2, 3});
    }));
    m.attachments.push_back(std::move(big));

    auto inner = std::make_shared<MessageContent>(MakeMessage("Inner message", "inner body"));
    inner->attachments.push_back(MakeAttachment("inner.docx", Pattern(20000, 99)));
    auto innermost = std::make_shared<MessageContent>(MakeMessage("Innermost", "deepest"));
    Attachment nested;
    nested.embedded = innermost;
    inner->attachments.push_back(nested);
    Attachment forwarded;
    forwarded.props.Set(PropertyValue::StringUtf8(0x3001001F, "Inner message"));
    forwarded.embedded = inner;
    m.attachments.push_back(forwarded);
    return m;
}

TEST(MessageTest, MessageReadsBackAsWritten) {
    TempDir dir;
    auto file = dir / "rich.pst";
    const MessageContent original = RichMessage();
    Nid nid, folder;
    {
        auto store = MessageStore::Create(file, "Rich");
        folder = store->CreateFolder(store->IpmSubtree(), "Mail");
        nid = store->AddMessage(folder, original);
        store->Close();
    }
    ExpectVerified(file);
    testing::ExpectOutlookRules(file);
    auto store = MessageStore::Open(file, true);
    ASSERT_EQ(store->Messages(folder), std::vector<Nid>{nid});
    const MessageContent back = store->ReadMessage(nid);
    ExpectSameMessage(back, original, "message");

    // Streamed data comes back whole.
    const PropertyValue* big = back.attachments[1].props.Find(0x37010102);
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->Bytes().size(), 10u * 1024 * 1024 + 3);
    EXPECT_EQ(
        std::vector<uint8_t>(big->Bytes().begin() + 65536 * 5, big->Bytes().begin() + 65536 * 6),
        Pattern(65536, 5));

    // What the store computes: flags agree with the attachments, display lists, size; the
    // caller's entry ID is not stored.
    EXPECT_EQ(back.props.Find(0x0E070003)->AsInt32(), 0x10);
    EXPECT_EQ(back.props.Find(0x0E04001F)->AsUtf8(), "Bob To");
    EXPECT_EQ(back.props.Find(0x0E03001F)->AsUtf8(), "Carol Cc");
    EXPECT_EQ(back.props.Find(0x0E02001F)->AsUtf8(), "Dan Bcc");
    EXPECT_GT(back.props.Find(0x0E080003)->AsInt32(), 10 * 1024 * 1024);
    EXPECT_EQ(back.props.Find(0x0FFF0102), nullptr);
    EXPECT_EQ(back.props.Find(0x300B0102)->Bytes().size(), 16u);
    EXPECT_NE(back.props.Find(0x30070040), nullptr);

    // The folder's view row copies the message's own values.
    auto rows = store->ContentsRows(folder);
    ASSERT_EQ(rows.size(), 1u);
    auto cell = [&rows](uint32_t t) {
        for (const auto& v : rows[0])
            if (v.Tag() == t) return v;
        return PropertyValue();
    };
    EXPECT_EQ(cell(0x67F20003).AsInt32(), int32_t(nid));
    EXPECT_EQ(cell(0x0E070003).AsInt32(), 0x10);
    EXPECT_EQ(cell(0x0E170003).AsInt32(), 0);

    auto info = store->GetFolderInfo(folder);
    EXPECT_EQ(info.contentCount, 1u);
    EXPECT_EQ(info.unreadCount, 1u);
    // The named properties went into the map, found again by name.
    EXPECT_TRUE(store->GetNameIdMap().Find({kInternetHeaders, std::u16string(u"X-Mailer")}));
}

TEST(MessageTest, NamedPropertiesAddedInOneSessionAreKnownInTheNext) {
    TempDir dir;
    auto file = dir / "named.pst";
    PropertyName name{kPsPublicStrings, std::u16string(u"Keywords-Extra")};
    Nid folder;
    {
        auto store = MessageStore::Create(file, "Named");
        folder = store->CreateFolder(store->IpmSubtree(), "A");
        MessageContent m = MakeMessage("one", "1");
        m.props.named.push_back({name, PropertyValue::StringUtf8(0x001F, "first")});
        store->AddMessage(folder, m);
        store->Close();
    }
    uint16_t id;
    {
        auto store = MessageStore::Open(file);
        ASSERT_TRUE(store->GetNameIdMap().Find(name));
        id = *store->GetNameIdMap().Find(name);
        MessageContent m = MakeMessage("two", "2");
        m.props.named.push_back({name, PropertyValue::StringUtf8(0x001F, "second")});
        store->AddMessage(folder, m);
        store->Close();
    }
    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(store->GetNameIdMap().Find(name), id);
    auto ids = store->Messages(folder);
    ASSERT_EQ(ids.size(), 2u);
    auto second = store->ReadMessage(ids[1]);
    ASSERT_EQ(second.props.named.size(), 1u);
    EXPECT_EQ(second.props.named[0].value.AsUtf8(), "second");
}

TEST(MessageTest, RefusesIdsReservedForNamedProperties) {
    TempDir dir;
    auto store = MessageStore::Create(dir / "bad.pst", "Bad");
    MessageContent m = MakeMessage("x", "y");
    m.props.Set(PropertyValue::Int32(0x80010003, 1));
    EXPECT_THROW(store->AddMessage(store->IpmSubtree(), m), MessagingError);
}

}  // namespace
}  // namespace pst::messaging
