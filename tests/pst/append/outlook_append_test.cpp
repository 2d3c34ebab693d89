// Appending to data files Outlook made: new folders at the top and under Inbox, 500 messages
// with attachments, and the old content as it was, by our reader and by three others.

#include <map>
#include <set>
#include <tuple>

#include "pst/ltp/property_context.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/append/append_fixture.h"
#include "tests/pst/outlook_rules.h"

namespace pst::messaging {
namespace {

using namespace testing;
using ndb::Ib;

constexpr int kMessages = 500;

struct Snapshot {
    std::vector<std::pair<std::string, FolderInfo>> tree;
    std::map<Nid, std::string> messages;  // subject, body and attachment sizes per message
};

std::string Summary(const MessageContent& m) {
    std::string s;
    for (uint32_t tag : {0x0037001Fu, 0x1000001Fu, 0x0042001Fu})
        if (const PropertyValue* v = m.props.Find(tag)) s += v->AsUtf8() + "|";
    for (const auto& a : m.attachments) {
        const PropertyValue* data = a.props.Find(0x37010102);
        s += std::to_string(data ? data->Bytes().size() : 0) + (a.embedded ? "e" : "") + ",";
    }
    return s + std::to_string(m.recipients.size());
}

Snapshot Take(const std::filesystem::path& file) {
    auto store = MessageStore::Open(file, true);
    Snapshot snap;
    snap.tree = store->FolderTree(store->IpmSubtree());
    snap.tree.emplace_back("", store->GetFolderInfo(store->IpmSubtree()));
    for (const auto& [path, info] : snap.tree)
        for (Nid m : store->Messages(info.nid)) snap.messages[m] = Summary(store->ReadMessage(m));
    return snap;
}

// The properties of the store and of every folder, search folders too.
std::map<Nid, std::map<uint32_t, std::vector<uint8_t>>> ObjectProperties(
    const std::filesystem::path& file) {
    auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
    std::map<Nid, std::map<uint32_t, std::vector<uint8_t>>> out;
    db->ForEachNode([&](const ndb::NodeEntry& e) {
        const uint32_t type = ndb::NidTypeOf(e.nid);
        if (e.nid != 0x21 && type != ndb::kNidTypeNormalFolder && type != ndb::kNidTypeSearchFolder)
            return;
        ndb::SubnodeMap sub = db->ReadSubnodes(e.sub);
        ltp::PropertyContext pc(*db, sub, e.data);
        for (const auto& v : pc.GetAll()) out[e.nid][v.Tag()] = v.Bytes();
    });
    return out;
}

std::vector<uint8_t> NodeBytes(const std::filesystem::path& file, Nid nid) {
    auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
    const auto node = db->FindNode(nid);
    return node ? db->ReadStream(node->data) : std::vector<uint8_t>{};
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Each reader's view before and after, checked by reader_delta.py.
class ReaderViews {
  public:
    explicit ReaderViews(const TempDir& dir) : dir_(dir) {}
    // Under Wine the tools are visible but the Linux readers cannot run.
    static bool runHere() { return testsupport::RunsLinuxPrograms(); }
    bool available() const { return std::filesystem::exists(tools_); }

    void dumpAll(const std::filesystem::path& file, const std::string& stage) {
        for (const auto& [name, command] : dumpers()) {
            std::string log;
            const auto out = dir_ / (name + "-" + stage + ".json");
            ASSERT_EQ(
                RunCommand(command + " " + fs::Utf8FromPath(file) + " > " + fs::Utf8FromPath(out),
                           &log),
                0)
                << name << " " << stage << "\n"
                << log;
        }
    }
    void check(const std::filesystem::path& added) {
        for (const auto& [name, command] : dumpers()) {
            std::string log;
            EXPECT_EQ(RunCommand("python3 " + std::string(EML2PST_SOURCE_DIR) +
                                     "/tests/pst/append/reader_delta.py " +
                                     fs::Utf8FromPath(dir_ / (name + "-before.json")) + " " +
                                     fs::Utf8FromPath(dir_ / (name + "-after.json")) + " " +
                                     fs::Utf8FromPath(added),
                                 &log),
                      0)
                << name << "\n"
                << log.substr(0, 3000);
        }
    }

  private:
    std::vector<std::pair<std::string, std::string>> dumpers() const {
        return {{"pypff", "/usr/bin/python3 " + fs::Utf8FromPath(tools_ / "pypff_dump.py")},
                {"readpst", "python3 " + fs::Utf8FromPath(tools_ / "readpst_dump.py")},
                {"pffexport", "python3 " + fs::Utf8FromPath(tools_ / "pffexport_dump.py")}};
    }
    const TempDir& dir_;
    std::filesystem::path tools_ = SharedDir() / "tools/pst-readers";
};

class OutlookAppend : public ::testing::TestWithParam<std::string> {};

TEST_P(OutlookAppend, NewFoldersAndMessagesBesideTheOldContent) {
    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    TempDir dir;
    const auto file = WritableCopy(GetParam(), dir);
    const Snapshot before = Take(file);
    const auto propertiesBefore = ObjectProperties(file);
    const auto queueBefore = NodeBytes(file, 0x1E1);
    ReaderViews readers(dir);
    if (readers.runHere() && readers.available()) readers.dumpAll(file, "before");

    std::string added = "[";
    std::map<Nid, std::pair<uint32_t, uint32_t>> expectCounts;  // messages, unread
    Nid top = 0, inbox = 0, imported = 0, archive = 0;
    std::string inboxPath;
    {
        auto store = MessageStore::Open(file);
        top = store->IpmSubtree();
        const auto oldInbox = store->GetDefaultFolder(DefaultFolder::kInbox);
        store->ValidateIpmTree();
        inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
        // Outlook's own Inbox, when the file has one, stays the Inbox.
        if (oldInbox) {
            EXPECT_EQ(inbox, *oldInbox);
        }
        inboxPath = store->GetFolderInfo(inbox).name;
        imported = store->CreateFolder(top, "Imported – Ü");
        archive = store->CreateFolder(inbox, "Archive 2026");
        store->SetAutoCommitInterval(120);
        const Nid targets[] = {top, imported, archive};
        const std::string paths[] = {"", "Imported – Ü", inboxPath + "/Archive 2026"};
        for (Nid t : targets)
            expectCounts[t] = {store->GetFolderInfo(t).contentCount,
                               store->GetFolderInfo(t).unreadCount};
        for (int i = 0; i < kMessages; ++i) {
            // A few into the file's own top folder, where Outlook wrote the table.
            const int which = i % 50 == 1 ? 0 : 1 + i % 2;
            const MessageContent m = AppendedMessage(GetParam(), i);
            store->AddMessage(targets[which], m);
            expectCounts[targets[which]].first += 1;
            expectCounts[targets[which]].second += i % 2;
            added += std::string(i ? ",\n" : "") + "{\"folder\": " + JsonString(paths[which]) +
                     ", \"subject\": " + JsonString(m.props.Find(0x0037001F)->AsUtf8()) +
                     ", \"attachments\": [";
            for (size_t k = 0; k < m.attachments.size(); ++k)
                added +=
                    (k ? ", " : "") + JsonString(m.attachments[k].props.Find(0x3707001F)->AsUtf8());
            added += "]}";
        }
        store->Close();
    }
    added += "]\n";
    const auto addedFile = dir / "added.json";
    std::ofstream(addedFile) << added;

    ExpectVerified(file);
    // Outlook's messages and ours alike as Outlook stores them.
    ExpectOutlookRules(file);
    // Outlook's files carry nonzero padding in B-tree entries; nothing else may be unusual.
    for (const auto& w : ndb::VerifyFileReport(file).warnings)
        if (w.find("dwPadding") == std::string::npos) ADD_FAILURE() << w;
    // Header fields Outlook keeps for itself (dwReserved1/2, bidUnused, the bytes after
    // bidNextB) come through as Outlook left them.
    {
        const auto original = FileBytes(CorpusFile(GetParam()));
        const auto now = FileBytes(file);
        for (auto [from, to] : {std::pair{16, 32}, std::pair{528, 564}})
            EXPECT_TRUE(
                std::equal(original.begin() + from, original.begin() + to, now.begin() + from))
                << "header bytes " << from << ".." << to;
    }
    // What the store and its folders had stays as it was: properties are only added, and only
    // the counts an add changes (and the valid-folder mask naming the new default folders) change.
    {
        const auto propertiesAfter = ObjectProperties(file);
        const std::set<uint32_t> counts{0x36020003, 0x36030003, 0x360A000B, 0x35DF0003};
        for (const auto& [nid, properties] : propertiesBefore)
            for (const auto& [tag, bytes] : properties) {
                if (counts.count(tag)) continue;
                const auto& now = propertiesAfter.at(nid);
                const auto it = now.find(tag);
                EXPECT_TRUE(it != now.end() && it->second == bytes)
                    << ndb::Hex(nid) << " " << ndb::Hex(tag)
                    << (it == now.end() ? " removed" : " changed");
            }
    }
    const Snapshot after = Take(file);
    // Each folder and message added in a folder of the search domain is queued for Outlook's
    // search folders, after what the queue held; nothing else is.
    {
        std::set<uint32_t> domain;
        const auto sdo = NodeBytes(file, 0x261);
        for (size_t at = 0; at + 4 <= sdo.size(); at += 4)
            domain.insert(ndb::NidIndexOf(Get32(sdo, at)));
        const auto queue = NodeBytes(file, 0x1E1);
        ASSERT_GE(queue.size(), queueBefore.size());
        EXPECT_TRUE(std::equal(queueBefore.begin(), queueBefore.end(), queue.begin()));
        std::multiset<std::tuple<uint32_t, Nid, Nid>> queued, expected;
        for (size_t at = queueBefore.size(); at + 20 <= queue.size(); at += 20)
            queued.insert({Get32(queue, at), Get32(queue, at + 4), Get32(queue, at + 8)});
        std::set<Nid> oldFolders;
        for (const auto& [path, info] : before.tree) oldFolders.insert(info.nid);
        for (const auto& [path, info] : after.tree)
            if (!oldFolders.count(info.nid) && domain.count(ndb::NidIndexOf(info.parent)))
                expected.insert({5u << 16, info.parent, info.nid});
        auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
        for (const auto& [nid, summary] : after.messages) {
            const Nid parent = db->FindNode(nid)->parent;
            if (!before.messages.count(nid) && domain.count(ndb::NidIndexOf(parent)))
                expected.insert({1u << 16, parent, nid});
        }
        EXPECT_EQ(queued, expected);
        EXPECT_EQ(expected.empty(), domain.empty());
    }
    // Old folders and messages read back the same (counts aside, where we added).
    for (const auto& [nid, summary] : before.messages) {
        auto it = after.messages.find(nid);
        ASSERT_NE(it, after.messages.end()) << "message " << ndb::Hex(nid) << " is gone";
        EXPECT_EQ(it->second, summary);
    }
    EXPECT_EQ(after.messages.size(), before.messages.size() + kMessages);
    std::map<Nid, FolderInfo> afterFolders;
    for (const auto& [path, info] : after.tree) afterFolders[info.nid] = info;
    for (const auto& [path, info] : before.tree) {
        ASSERT_TRUE(afterFolders.count(info.nid)) << path;
        EXPECT_EQ(afterFolders[info.nid].name, info.name);
        EXPECT_EQ(afterFolders[info.nid].parent, info.parent);
        if (!expectCounts.count(info.nid)) {
            EXPECT_EQ(afterFolders[info.nid].contentCount, info.contentCount) << path;
        }
    }
    for (const auto& [nid, counts] : expectCounts) {
        EXPECT_EQ(afterFolders[nid].contentCount, counts.first) << afterFolders[nid].name;
        EXPECT_EQ(afterFolders[nid].unreadCount, counts.second) << afterFolders[nid].name;
    }
    EXPECT_TRUE(afterFolders[inbox].hasSubfolders);
    EXPECT_TRUE(afterFolders[top].hasSubfolders);
    {
        auto store = MessageStore::Open(file, true);
        EXPECT_EQ(store->ContentsRows(archive).size(), expectCounts[archive].first);
        int checked = 0;
        for (Nid nid : store->Messages(archive)) {
            const MessageContent m = store->ReadMessage(nid);
            const std::string subject = m.props.Find(0x0037001F)->AsUtf8();
            const int i = std::stoi(subject.substr(subject.rfind(' ') + 1));
            if (i % 50 != 49) continue;
            ASSERT_EQ(m.attachments.size(), 1u);
            EXPECT_EQ(m.attachments[0].props.Find(0x37010102)->Bytes(),
                      Pattern(200 + size_t(i) * 3, uint32_t(i)));
            ++checked;
        }
        EXPECT_EQ(checked, kMessages / 50);
    }

    if (!readers.runHere()) return;
    if (!readers.available()) GTEST_SKIP() << "no shared reader tools";
    readers.dumpAll(file, "after");
    readers.check(addedFile);
}

// A long queue: entries queued over many commits run on across its blocks, in order.
TEST(OutlookAppendQueue, SearchUpdatesRunOnAcrossBlocksAndCommits) {
    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    TempDir dir;
    const auto file = WritableCopy("pstsdk_sample1.pst", dir);  // its top folder is searched
    std::vector<Nid> added;
    {
        auto store = MessageStore::Open(file);
        store->SetAutoCommitInterval(150);
        for (int i = 0; i < 1000; ++i)
            added.push_back(store->AddMessage(store->IpmSubtree(),
                                              MakeMessage("Queued " + std::to_string(i), "x")));
        store->Close();
    }
    const auto queue = NodeBytes(file, 0x1E1);
    ASSERT_EQ(queue.size(), added.size() * 20);
    for (size_t i = 0; i < added.size(); ++i) {
        EXPECT_EQ(Get32(queue, i * 20), 1u << 16);
        EXPECT_EQ(Get32(queue, i * 20 + 4), 0x8022u);
        ASSERT_EQ(Get32(queue, i * 20 + 8), added[i]) << i;
    }
    ExpectVerified(file);
    ExpectOutlookRules(file);
}

// How many blocks of `slots` 64-byte slots the free runs of a file's allocation maps hold.
uint64_t BlocksThatFit(const std::filesystem::path& file, uint64_t slots) {
    const auto raw = FileBytes(file);
    uint64_t fit = 0;
    for (Ib at = ndb::kFirstAMapOffset; at + ndb::kPageSize <= raw.size();
         at += ndb::kAMapInterval) {
        uint64_t run = 0;
        for (size_t bit = 0; bit < ndb::kAMapBitmapBytes * 8; ++bit) {
            if (raw[at + bit / 8] & (0x80u >> (bit % 8))) {
                fit += run / slots;
                run = 0;
            } else {
                ++run;
            }
        }
        fit += run / slots;
    }
    return fit;
}

// Outlook leaves free space in its allocation intervals (the French file, holes all over it):
// new blocks go there before the file grows.
TEST_P(OutlookAppend, FreeSpaceIsUsedBeforeTheFileGrows) {
    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    TempDir dir;
    const auto file = WritableCopy(GetParam(), dir);
    const uint64_t size = std::filesystem::file_size(file);
    const uint64_t fit = BlocksThatFit(file, 129);  // 8,176 bytes and the trailer
    ASSERT_GT(fit, 10u);
    // One node holds them all through a data tree; leave room for the new BBT pages.
    const uint64_t count = fit - fit / 10 - 3;
    auto f = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite);
    std::vector<ndb::Bid> leaves;
    for (uint32_t i = 0; i < count; ++i) leaves.push_back(f->WriteBlock(Pattern(8176, i)));
    f->PutNode({ndb::MakeNid(ndb::kNidTypeLtp, 0x7000), f->WriteDataTree(leaves), 0, 0});
    f->Commit();
    f.reset();
    EXPECT_EQ(std::filesystem::file_size(file), size) << count << " blocks";
    EXPECT_TRUE(ndb::VerifyFile(file).empty());
}

INSTANTIATE_TEST_SUITE_P(Corpus, OutlookAppend, ::testing::ValuesIn(OutlookSamples()),
                         [](const auto& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace pst::messaging
