// Many messages: read back by our reader and by three independent PST readers, and the cost
// of one more message in a small and in a large folder.

#include <cstdio>
#include <fstream>
#include <sstream>

#include "pst/ndb/pst_file.h"
#include "tests/pst/messaging/store_fixture.h"
#include "tests/support/json_string.h"
#include "tests/support/platform.h"

namespace pst::messaging {
namespace {

using testing::ExpectVerified;
using testing::MakeAttachment;
using testing::MakeMessage;
using testing::Pattern;
using testing::TempDir;

using testsupport::JsonString;

std::string IsoTime(uint64_t filetime) {
    const time_t t = time_t(filetime / 10000000 - 11644473600ull);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
    return buf;
}

struct Expected {
    std::string folder, subject;
    uint64_t submit = 0;
    std::vector<std::pair<std::string, bool>> attachments;  // name, embedded
};

// The dump layout the reader scripts print, built from what our own reader gives back, so
// compare.py can hold each reader's view against ours.
std::string ExpectedDump(const MessageStore& store,
                         const std::vector<std::pair<std::string, Nid>>& folders) {
    std::vector<Expected> messages;
    std::ostringstream out;
    out << "{\"reader\": \"own\", \"file\": \"x\", \"folders\": [";
    bool first = true;
    for (const auto& [path, nid] : folders) {
        out << (first ? "" : ", ") << "{\"path\": " << JsonString(path)
            << ", \"items\": " << store.GetFolderInfo(nid).contentCount << "}";
        first = false;
        for (Nid m : store.Messages(nid)) {
            const MessageContent c = store.ReadMessage(m);
            Expected e{
                path, c.props.Find(0x0037001F)->AsUtf8(), c.props.Find(0x00390040)->AsTime(), {}};
            for (const auto& a : c.attachments) {
                const PropertyValue* name = a.props.Find(0x3707001F);
                if (!name) name = a.props.Find(0x3001001F);
                e.attachments.push_back({name ? name->AsUtf8() : "", bool(a.embedded)});
            }
            messages.push_back(std::move(e));
        }
    }
    std::sort(messages.begin(), messages.end(), [](const Expected& a, const Expected& b) {
        return std::tie(a.folder, a.submit, a.subject) < std::tie(b.folder, b.submit, b.subject);
    });
    out << "], \"messages\": [";
    first = true;
    for (const auto& m : messages) {
        out << (first ? "" : ",\n") << "{\"folder\": " << JsonString(m.folder)
            << ", \"message_class\": \"IPM.Note\", \"subject\": " << JsonString(m.subject)
            << ", \"sender_name\": \"Ann Sender\", \"sender_email\": \"ann@example.org\""
            << ", \"to\": [{\"name\": \"Bob To\", \"email\": \"bob@example.org\"}]"
            << ", \"cc\": [{\"name\": \"Carol Cc\", \"email\": \"carol@example.org\"}], \"bcc\": []"
            << ", \"submit_time\": \"" << IsoTime(m.submit) << "\", \"delivery_time\": null"
            << ", \"body_text\": null, \"body_html\": null, \"attachments\": [";
        for (size_t i = 0; i < m.attachments.size(); ++i)
            out << (i ? ", " : "") << "{\"name\": " << JsonString(m.attachments[i].first)
                << ", \"size\": null, \"sha256\": null, \"embedded\": "
                << (m.attachments[i].second ? "true" : "false") << "}";
        out << "]}";
        first = false;
    }
    out << "]}\n";
    return out.str();
}

int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string text;
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    if (output) *output = text;
    return pclose(p);
}

TEST(BulkTest, TwoThousandMessagesReadBackByUsAndByThreeReaders) {
    TempDir dir;
    const auto file = dir / "bulk.pst";
    std::vector<std::pair<std::string, Nid>> folders;
    std::vector<MessageContent> written;
    {
        auto store = MessageStore::Create(file, "Bulk");
        store->ValidateIpmTree();
        store->SetAutoCommitInterval(300);
        const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
        const Nid sub = store->CreateFolder(inbox, "Listen – Ü");
        folders = {{"Inbox", inbox}, {"Inbox/Listen – Ü", sub}};
        for (int i = 0; i < 2000; ++i) {
            MessageContent m = MakeMessage("Message " + std::to_string(i) + " ✓",
                                           "Body of message " + std::to_string(i),
                                           132000000000000000ull + uint64_t(i) * 600000000);
            if (i % 3 == 0)
                m.attachments.push_back(
                    MakeAttachment("part" + std::to_string(i) + ".bin", Pattern(100 + i * 7, i)));
            if (i % 250 == 7) {
                Attachment fwd;
                // Named after the message it holds, as mail clients name such attachments.
                fwd.props.Set(PropertyValue::StringUtf8(0x3001001F, "Inner " + std::to_string(i)));
                fwd.embedded = std::make_shared<MessageContent>(
                    MakeMessage("Inner " + std::to_string(i), "inner"));
                fwd.embedded->attachments.push_back(MakeAttachment("inner.txt", {'x'}));
                m.attachments.push_back(fwd);
            }
            if (i == 1234)
                m.attachments.push_back(MakeAttachment("ten-megabytes.bin", Pattern(10 << 20, 7)));
            store->AddMessage(i % 4 ? inbox : sub, m);
            written.push_back(std::move(m));
        }
        store->Close();
    }
    ExpectVerified(file);

    auto store = MessageStore::Open(file, true);
    size_t total = 0;
    for (const auto& [path, nid] : folders) {
        for (Nid m : store->Messages(nid)) {
            const MessageContent back = store->ReadMessage(m);
            const std::string subject = back.props.Find(0x0037001F)->AsUtf8();
            const size_t i = std::stoul(subject.substr(8));
            ASSERT_LT(i, written.size());
            const MessageContent& want = written[i];
            EXPECT_EQ(back.props.Find(0x1000001F)->Bytes(), want.props.Find(0x1000001F)->Bytes());
            ASSERT_EQ(back.recipients.size(), 2u);
            EXPECT_EQ(back.recipients[1].props.Find(0x3003001F)->AsUtf8(), "carol@example.org");
            ASSERT_EQ(back.attachments.size(), want.attachments.size()) << subject;
            for (size_t k = 0; k < want.attachments.size(); ++k) {
                if (want.attachments[k].embedded) {
                    ASSERT_TRUE(back.attachments[k].embedded);
                    EXPECT_EQ(back.attachments[k].embedded->attachments.size(), 1u);
                } else {
                    EXPECT_EQ(back.attachments[k].props.Find(0x37010102)->Bytes(),
                              want.attachments[k].props.Find(0x37010102)->Bytes());
                }
            }
            ++total;
        }
    }
    EXPECT_EQ(total, 2000u);

    if (!testsupport::RunsLinuxPrograms()) return;
    const auto tools = testing::SharedDir() / "tools/pst-readers";
    if (!std::filesystem::exists(tools)) GTEST_SKIP() << "no shared reader tools";
    const auto expected = dir / "expected.json";
    std::ofstream(expected) << ExpectedDump(*store, folders);
    // The whole folder tree, empty default folders included, as two readers list it.
    std::string ourTree = "0\t/\n";
    std::vector<std::string> lines;
    for (auto [path, info] : store->FolderTree(store->IpmSubtree())) {
        std::replace(path.begin(), path.end(), '\\', '/');
        lines.push_back(std::to_string(info.contentCount) + "\t" + path + "\n");
    }
    std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.find('\t')) < b.substr(b.find('\t'));
    });
    for (const auto& l : lines) ourTree += l;
    for (const std::string& dumper :
         {"/usr/bin/python3 " + fs::Utf8FromPath(tools / "pypff_dump.py"),
          "python3 " + fs::Utf8FromPath(tools / "pffexport_dump.py")}) {
        std::string tree;
        ASSERT_EQ(RunCommand(dumper + " --tree " + fs::Utf8FromPath(file), &tree), 0) << tree;
        EXPECT_EQ(tree, ourTree) << dumper;
    }

    // readpst builds To/Cc from the display strings alone (our messages carry no transport
    // headers), so its recipients are names only.
    const std::string allFields = "";
    const std::string readpstFields =
        " --fields message_class,subject,sender_name,sender_email,submit_time,attachments";
    for (const auto& [dumper, fields] :
         {std::pair{"/usr/bin/python3 " + fs::Utf8FromPath(tools / "pypff_dump.py"), allFields},
          std::pair{"python3 " + fs::Utf8FromPath(tools / "readpst_dump.py"), readpstFields},
          std::pair{"python3 " + fs::Utf8FromPath(tools / "pffexport_dump.py"), allFields}}) {
        const auto dump = dir / "reader.json";
        std::string log;
        ASSERT_EQ(RunCommand(dumper + " " + fs::Utf8FromPath(file) + " > " + fs::Utf8FromPath(dump),
                             &log),
                  0)
            << dumper << "\n"
            << log;
        EXPECT_EQ(RunCommand("python3 " + fs::Utf8FromPath(tools / "compare.py") + " " +
                                 fs::Utf8FromPath(expected) + " " + fs::Utf8FromPath(dump) + fields,
                             &log),
                  0)
            << dumper << "\n"
            << log.substr(0, 3000);
    }
}

// Counts what the messaging layer hands the node database to write.
class CountingDatabase : public ndb::NodeDatabase {
  public:
    explicit CountingDatabase(std::unique_ptr<ndb::NodeDatabase> db) : db_(std::move(db)) {}
    uint64_t bytes = 0;

    std::optional<ndb::NodeEntry> FindNode(ndb::Nid nid) const override {
        return db_->FindNode(nid);
    }
    std::vector<uint8_t> ReadBlock(ndb::Bid bid) const override { return db_->ReadBlock(bid); }
    std::vector<ndb::Bid> DataBlocks(ndb::Bid data) const override { return db_->DataBlocks(data); }
    std::vector<uint8_t> ReadStream(ndb::Bid data) const override { return db_->ReadStream(data); }
    uint64_t StreamSize(ndb::Bid data) const override { return db_->StreamSize(data); }
    ndb::SubnodeMap ReadSubnodes(ndb::Bid sub) const override { return db_->ReadSubnodes(sub); }
    ndb::Bid WriteBlock(std::span<const uint8_t> data) override {
        bytes += data.size();
        return db_->WriteBlock(data);
    }
    ndb::Bid WriteDataTree(std::span<const ndb::Bid> leaves) override {
        bytes += 8 * leaves.size();
        return db_->WriteDataTree(leaves);
    }
    ndb::Bid WriteStream(std::span<const uint8_t> data) override {
        bytes += data.size();
        return db_->WriteStream(data);
    }
    ndb::Bid WriteSubnodes(const ndb::SubnodeMap& subnodes) override {
        bytes += 24 * subnodes.size();
        return db_->WriteSubnodes(subnodes);
    }
    void PutNode(const ndb::NodeEntry& entry) override { db_->PutNode(entry); }
    void RemoveNode(ndb::Nid nid) override { db_->RemoveNode(nid); }
    ndb::Nid AllocateNid(uint32_t type) override { return db_->AllocateNid(type); }
    void Commit() override { db_->Commit(); }

  private:
    std::unique_ptr<ndb::NodeDatabase> db_;
};

TEST(BulkTest, AddingAMessageCostsTheSameInASmallAndALargeFolder) {
    TempDir dir;
    auto counting = std::make_unique<CountingDatabase>(ndb::PstFile::Create(dir / "cost.pst"));
    CountingDatabase& db = *counting;
    auto store = MessageStore::CreateOn(std::move(counting), "Cost");
    store->SetAutoCommitInterval(0);
    const Nid small = store->CreateFolder(store->IpmSubtree(), "Small");
    const Nid large = store->CreateFolder(store->IpmSubtree(), "Large");
    auto add = [&](Nid folder, int count, int from, int commitEvery) {
        for (int i = 0; i < count; ++i) {
            store->AddMessage(folder, MakeMessage("m" + std::to_string(from + i), "short body"));
            if ((i + 1) % commitEvery == 0) store->Commit();
        }
        store->Commit();
    };
    add(small, 100, 0, 1000);
    add(large, 20000, 100, 1000);

    // The same 200 messages, committed every 50, into each folder.
    const uint64_t before = db.bytes;
    add(small, 200, 30000, 50);
    const uint64_t intoSmall = db.bytes - before;
    add(large, 200, 40000, 50);
    const uint64_t intoLarge = db.bytes - before - intoSmall;
    RecordProperty("bytes_per_message_small", std::to_string(intoSmall / 200));
    RecordProperty("bytes_per_message_large", std::to_string(intoLarge / 200));
    EXPECT_LT(double(intoLarge), 1.3 * double(intoSmall))
        << intoSmall / 200 << " bytes per message into 100, " << intoLarge / 200 << " into 20,000";
    EXPECT_EQ(store->GetFolderInfo(large).contentCount, 20200u);
    store->Close();
}

// A folder left alone for a whole commit interval gives up its tables; when messages come for
// it again they must land after the ones it had, in the same tables, also once its rows
// have moved out of the heap into their own subnode.
TEST(BulkTest, FoldersLeftIdleAcrossCommitsTakeMessagesAgain) {
    TempDir dir;
    const auto file = dir / "idle.pst";
    std::vector<Nid> folders;
    std::vector<std::vector<std::string>> subjects(3);
    {
        auto store = MessageStore::Create(file, "Idle");
        store->SetAutoCommitInterval(10);
        for (const char* name : {"A", "B", "C"})
            folders.push_back(store->CreateFolder(store->IpmSubtree(), name));
        int n = 0;
        auto add = [&](size_t f, int count) {
            for (int i = 0; i < count; ++i, ++n) {
                subjects[f].push_back("m" + std::to_string(n));
                store->AddMessage(folders[f], MakeMessage(subjects[f].back(), "body"));
            }
        };
        add(0, 45);  // enough rows for a row matrix of its own
        add(1, 30);  // A idle for two commits
        add(2, 5);
        add(0, 25);  // A again, before and across commits
        add(2, 5);
        add(1, 1);  // left uncommitted until close
        store->Close();
    }
    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    for (size_t f = 0; f < folders.size(); ++f) {
        std::vector<std::string> got;
        for (Nid m : store->Messages(folders[f]))
            got.push_back(store->ReadMessage(m).props.Find(0x0037001F)->AsUtf8());
        EXPECT_EQ(got, subjects[f]) << "folder " << f;
        EXPECT_EQ(store->GetFolderInfo(folders[f]).contentCount, subjects[f].size());
    }
}

// The size limit of a data file relies on this bound: a message, saved and committed alone,
// never takes more of the file than AddedBytesBound says, whatever it holds.
TEST(BulkTest, AMessageTakesNoMoreOfTheFileThanItsBound) {
    TempDir dir;
    auto store = MessageStore::Create(dir / "bound.pst", "Bound");
    store->ValidateIpmTree();
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    // A folder with tables of some size, so that a commit rewrites real blocks of them.
    for (int i = 0; i < 1500; ++i)
        store->AddMessage(inbox, MakeMessage("m" + std::to_string(i), "b"));
    store->Commit();
    auto& file = dynamic_cast<ndb::PstFile&>(store->Database());

    std::vector<std::pair<std::string, MessageContent>> cases;
    cases.emplace_back("plain", MakeMessage("plain", std::string(300, 'x')));
    MessageContent big = MakeMessage("big", "b");
    big.attachments.push_back(MakeAttachment("big.bin", Pattern(3 << 20, 1)));
    cases.emplace_back("one big attachment", big);
    MessageContent many = MakeMessage("many", std::string(20000, 'y'));
    for (int i = 0; i < 150; ++i)
        many.attachments.push_back(MakeAttachment("a" + std::to_string(i), Pattern(50 + i, i)));
    for (int i = 0; i < 400; ++i)
        many.recipients.push_back(testing::MakeRecipient(1, "R " + std::to_string(i),
                                                         "r" + std::to_string(i) + "@example.org"));
    cases.emplace_back("many attachments and recipients", many);
    MessageContent nested = MakeMessage("nested", "b");
    Attachment fwd;
    fwd.embedded = std::make_shared<MessageContent>(many);
    nested.attachments.push_back(fwd);
    cases.emplace_back("embedded", nested);

    for (const auto& [what, message] : cases) {
        const uint64_t end = file.EndOfFile(), used = end - file.FreeBytes();
        const uint64_t bound = MessageStore::AddedBytesBound(message);
        store->AddMessage(inbox, message);
        store->Commit();
        const uint64_t usedAfter = file.EndOfFile() - file.FreeBytes();
        EXPECT_LE(usedAfter - used, bound) << what;
        const uint64_t interval = ndb::kAMapInterval;
        EXPECT_LE(file.EndOfFile() - end, (bound + interval - 1) / interval * interval) << what;
        // Not so loose that files split far below their limit.
        EXPECT_LE(bound, 4 * (usedAfter - used) + 256 * 1024) << what;
    }
    store->Close();
}

}  // namespace
}  // namespace pst::messaging
