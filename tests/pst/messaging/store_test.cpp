// A new store, its default folders, and folders made by the user.

#include <algorithm>
#include <map>
#include <set>

#include "pst/ltp/table_context.h"
#include "pst/messaging/errors.h"
#include "pst/ndb/pst_file.h"
#include "tests/pst/messaging/store_fixture.h"
#include "tests/pst/outlook_rules.h"

namespace pst::messaging {
namespace {

using testing::ExpectVerified;
using testing::TempDir;

std::set<Nid> NodesOf(const std::filesystem::path& file) {
    auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
    std::set<Nid> nids;
    db->ForEachNode([&nids](const ndb::NodeEntry& e) { nids.insert(e.nid); });
    return nids;
}

TEST(MessageStoreTest, NewStoreHasTheNodesOfANewOutlookFile) {
    TempDir dir;
    auto file = dir / "new.pst";
    MessageStore::Create(file, "Archive 2024")->Close();
    ExpectVerified(file);

    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(store->DisplayName(), "Archive 2024");
    EXPECT_EQ(store->GetFolderInfo(store->IpmSubtree()).name, "Top of Outlook data file");
    EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::kDeletedItems), Nid(0x8062));
    EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::kInbox), std::nullopt);  // not yet set up

    const auto outlook = testing::SharedDir() / "corpus/pst/outlook-pst-rs_Empty.pst";
    if (!std::filesystem::exists(outlook)) GTEST_SKIP() << "no shared corpus";
    // Every node Outlook's new file has, except its undocumented internal ones (type 0x01
    // above 0x261) other than 0xC01, 0xE01 and 0xE41, is in ours; those three byte for byte.
    auto ours = NodesOf(file);
    for (Nid nid : NodesOf(outlook)) {
        if (ndb::NidTypeOf(nid) == ndb::kNidTypeInternal && nid > 0x261 && nid != 0xC01 &&
            nid != 0xE01 && nid != 0xE41)
            continue;
        EXPECT_TRUE(ours.count(nid)) << "missing node 0x" << std::hex << nid;
    }
    {
        auto a = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
        auto b = ndb::PstFile::Open(outlook, ndb::PstFile::Mode::ReadOnly);
        for (Nid nid : {0xC01u, 0xE01u, 0xE41u}) {
            const auto x = a->FindNode(nid), y = b->FindNode(nid);
            ASSERT_TRUE(x && y);
            EXPECT_EQ(a->ReadStream(x->data), b->ReadStream(y->data)) << std::hex << nid;
            EXPECT_EQ(x->sub, 0u);
        }
        // The top folder's contents table has the preview column Outlook's has.
        for (auto* db : {a.get(), b.get()}) {
            const auto node = db->FindNode(0x802E);
            ndb::SubnodeMap sub = db->ReadSubnodes(node->sub);
            EXPECT_TRUE(ltp::TableContext(*db, sub, node->data).HasColumn(0x6619001F));
        }
        // The rows a new file has carry Outlook's row versions.
        for (Nid table : {Nid(0x12D), Nid(0x802D), Nid(0x62B)}) {
            auto versions = [table](ndb::NodeDatabase& db) {
                const auto node = db.FindNode(table);
                ndb::SubnodeMap sub = db.ReadSubnodes(node->sub);
                ltp::TableContext tc(db, sub, node->data);
                std::map<uint32_t, int32_t> v;
                for (size_t i = 0; i < tc.RowCount(); ++i)
                    v[tc.RowIdAt(i)] = tc.Cell(i, 0x67F30003)->AsInt32();
                return v;
            };
            EXPECT_EQ(versions(*a), versions(*b)) << std::hex << table;
        }
    }
    // The root lists the same folders.
    auto theirs = MessageStore::Open(outlook, true);
    std::vector<std::string> a, b;
    for (const auto& f : store->Subfolders(store->RootFolder())) a.push_back(f.name);
    for (const auto& f : theirs->Subfolders(theirs->RootFolder())) b.push_back(f.name);
    EXPECT_EQ(a, b);
}

TEST(MessageStoreTest, TopFolderRowsShowThePreview) {
    TempDir dir;
    auto file = dir / "top.pst";
    {
        auto store = MessageStore::Create(file, "Top");
        store->AddMessage(store->IpmSubtree(), testing::MakeMessage("At the top", "Seen first."));
        store->Close();
    }
    testing::ExpectOutlookRules(file);  // the row's preview is the message's
    auto store = MessageStore::Open(file, true);
    const auto rows = store->ContentsRows(store->IpmSubtree());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(std::any_of(rows[0].begin(), rows[0].end(),
                            [](const PropertyValue& v) { return v.Tag() == 0x6619001F; }));
}

TEST(MessageStoreTest, ValidateIpmTreeSetsUpDefaultFoldersOnce) {
    TempDir dir;
    auto file = dir / "defaults.pst";
    std::map<DefaultFolder, Nid> first;
    {
        auto store = MessageStore::Create(file, "Mail");
        store->ValidateIpmTree();
        for (const auto& info : DefaultFolders()) {
            auto nid = store->GetDefaultFolder(info.kind);
            ASSERT_TRUE(nid) << info.name;
            auto f = store->GetFolderInfo(*nid);
            EXPECT_EQ(f.name, info.name);
            EXPECT_EQ(f.containerClass, info.containerClass) << info.name;
            EXPECT_EQ(f.parent, store->IpmSubtree());
            first[info.kind] = *nid;
        }
        store->Close();
    }
    ExpectVerified(file);
    const auto nodesBefore = NodesOf(file);
    {
        // Found again through the entries after reopening, even when a default folder has
        // been renamed (as a localising client would show it); a second run adds nothing.
        auto store = MessageStore::Open(file);
        store->ValidateIpmTree();
        for (const auto& [kind, nid] : first) EXPECT_EQ(store->GetDefaultFolder(kind), nid);
        store->Close();
    }
    EXPECT_EQ(NodesOf(file), nodesBefore);
    ExpectVerified(file);
}

TEST(MessageStoreTest, FoldersNestAndKeepNonAsciiNames) {
    TempDir dir;
    auto file = dir / "folders.pst";
    Nid archive, year, deep;
    {
        auto store = MessageStore::Create(file, "Folders");
        const Nid top = store->IpmSubtree();
        archive = store->CreateFolder(top, "Archiv für Grüße");
        year = store->CreateFolder(archive, "2024 – 日本語", "IPF.Note");
        deep = store->CreateFolder(year, "Ελληνικά");
        store->CreateFolder(year, "Заметки", "IPF.StickyNote");
        EXPECT_TRUE(store->GetFolderInfo(archive).hasSubfolders);
        EXPECT_FALSE(store->GetFolderInfo(deep).hasSubfolders);
        store->Close();
    }
    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    const Nid top = store->IpmSubtree();
    EXPECT_EQ(store->FindSubfolder(top, "Archiv für Grüße"), archive);
    EXPECT_EQ(store->FindSubfolder(archive, "2024 – 日本語"), year);
    auto children = store->Subfolders(year);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].name, "Ελληνικά");
    EXPECT_EQ(children[1].name, "Заметки");
    EXPECT_EQ(children[1].containerClass, "IPF.StickyNote");
    EXPECT_EQ(store->FindSubfolder(year, "nowhere"), std::nullopt);

    std::vector<std::string> paths;
    for (const auto& [path, info] : store->FolderTree(top)) paths.push_back(path);
    EXPECT_EQ(paths, (std::vector<std::string>{"Deleted Items", "Archiv für Grüße",
                                               "Archiv für Grüße\\2024 – 日本語",
                                               "Archiv für Grüße\\2024 – 日本語\\Ελληνικά",
                                               "Archiv für Grüße\\2024 – 日本語\\Заметки"}));
}

TEST(MessageStoreTest, FolderNamesCollideRegardlessOfLetterCase) {
    TempDir dir;
    auto store = MessageStore::Create(dir / "case.pst", "Case");
    const Nid top = store->IpmSubtree();
    const Nid projects = store->CreateFolder(top, "Projects");
    EXPECT_THROW(store->CreateFolder(top, "projects"), FolderNameCollision);
    EXPECT_THROW(store->CreateFolder(top, "PROJECTS"), FolderNameCollision);
    // Deleted Items came with the file.
    EXPECT_THROW(store->CreateFolder(top, "deleted items"), FolderNameCollision);
    store->CreateFolder(projects, "Été");
    EXPECT_THROW(store->CreateFolder(projects, "éTÉ"), FolderNameCollision);
    EXPECT_THROW(store->CreateFolder(projects, "ÉTÉ"), FolderNameCollision);
    store->CreateFolder(projects, "Straße");  // no folding across lengths
    store->CreateFolder(projects, "Été 2");
    EXPECT_EQ(store->FindSubfolder(top, "pRoJeCtS"), projects);
    // The same name under another parent is fine.
    store->CreateFolder(store->CreateFolder(top, "Other"), "Projects");
    store->Close();
    ExpectVerified(dir / "case.pst");
}

TEST(MessageStoreTest, RejectsWhatIsNotAStore) {
    TempDir dir;
    EXPECT_THROW(MessageStore::Open(dir / "missing.pst"), std::exception);
    auto store = MessageStore::Create(dir / "s.pst", "S");
    EXPECT_THROW(store->CreateFolder(store->IpmSubtree(), ""), MessagingError);
    EXPECT_THROW(store->CreateFolder(0x12345, "x"), MessagingError);
    EXPECT_THROW(store->AddMessage(0x2223, MessageContent{}), MessagingError);  // search folder
}

}  // namespace
}  // namespace pst::messaging
