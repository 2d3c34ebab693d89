// A new store, its default folders, and folders made by the user.

#include <set>

#include "pst/messaging/errors.h"
#include "pst/ndb/pst_file.h"
#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

using testing::ExpectVerified;
using testing::TempDir;

std::set<Nid> NodesOf(const std::filesystem::path& file) {
    auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadOnly);
    std::set<Nid> nids;
    db->forEachNode([&nids](const ndb::NodeEntry& e) { nids.insert(e.nid); });
    return nids;
}

TEST(MessageStoreTest, NewStoreHasTheNodesOfANewOutlookFile) {
    TempDir dir;
    auto file = dir / "new.pst";
    MessageStore::Create(file, "Archive 2024")->close();
    ExpectVerified(file);

    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(store->displayName(), "Archive 2024");
    EXPECT_EQ(store->folderInfo(store->ipmSubtree()).name, "Top of Outlook data file");
    EXPECT_EQ(store->defaultFolder(DefaultFolder::kDeletedItems), Nid(0x8062));
    EXPECT_EQ(store->defaultFolder(DefaultFolder::kInbox), std::nullopt);  // not yet set up

    const auto outlook = testing::SharedDir() / "corpus/pst/outlook-pst-rs_Empty.pst";
    if (!std::filesystem::exists(outlook)) GTEST_SKIP() << "no shared corpus";
    // Every node Outlook's new file has, except its undocumented internal ones (type 0x01
    // above 0x261), is in ours.
    auto ours = NodesOf(file);
    for (Nid nid : NodesOf(outlook)) {
        if (ndb::NidTypeOf(nid) == ndb::kNidTypeInternal && nid > 0x261) continue;
        EXPECT_TRUE(ours.count(nid)) << "missing node 0x" << std::hex << nid;
    }
    // The root lists the same folders.
    auto theirs = MessageStore::Open(outlook, true);
    std::vector<std::string> a, b;
    for (const auto& f : store->subfolders(store->rootFolder())) a.push_back(f.name);
    for (const auto& f : theirs->subfolders(theirs->rootFolder())) b.push_back(f.name);
    EXPECT_EQ(a, b);
}

TEST(MessageStoreTest, ValidateIpmTreeSetsUpDefaultFoldersOnce) {
    TempDir dir;
    auto file = dir / "defaults.pst";
    std::map<DefaultFolder, Nid> first;
    {
        auto store = MessageStore::Create(file, "Mail");
        store->validateIpmTree();
        for (const auto& info : DefaultFolders()) {
            auto nid = store->defaultFolder(info.kind);
            ASSERT_TRUE(nid) << info.name;
            auto f = store->folderInfo(*nid);
            EXPECT_EQ(f.name, info.name);
            EXPECT_EQ(f.containerClass, info.containerClass) << info.name;
            EXPECT_EQ(f.parent, store->ipmSubtree());
            first[info.kind] = *nid;
        }
        store->close();
    }
    ExpectVerified(file);
    const auto nodesBefore = NodesOf(file);
    {
        // Found again through the entries after reopening, even when a default folder has
        // been renamed (as a localising client would show it); a second run adds nothing.
        auto store = MessageStore::Open(file);
        store->validateIpmTree();
        for (const auto& [kind, nid] : first) EXPECT_EQ(store->defaultFolder(kind), nid);
        store->close();
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
        const Nid top = store->ipmSubtree();
        archive = store->createFolder(top, "Archiv für Grüße");
        year = store->createFolder(archive, "2024 – 日本語", "IPF.Note");
        deep = store->createFolder(year, "Ελληνικά");
        store->createFolder(year, "Заметки", "IPF.StickyNote");
        EXPECT_TRUE(store->folderInfo(archive).hasSubfolders);
        EXPECT_FALSE(store->folderInfo(deep).hasSubfolders);
        store->close();
    }
    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    const Nid top = store->ipmSubtree();
    EXPECT_EQ(store->findSubfolder(top, "Archiv für Grüße"), archive);
    EXPECT_EQ(store->findSubfolder(archive, "2024 – 日本語"), year);
    auto children = store->subfolders(year);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].name, "Ελληνικά");
    EXPECT_EQ(children[1].name, "Заметки");
    EXPECT_EQ(children[1].containerClass, "IPF.StickyNote");
    EXPECT_EQ(store->findSubfolder(year, "nowhere"), std::nullopt);

    std::vector<std::string> paths;
    for (const auto& [path, info] : store->folderTree(top)) paths.push_back(path);
    EXPECT_EQ(paths, (std::vector<std::string>{"Deleted Items", "Archiv für Grüße",
                                               "Archiv für Grüße\\2024 – 日本語",
                                               "Archiv für Grüße\\2024 – 日本語\\Ελληνικά",
                                               "Archiv für Grüße\\2024 – 日本語\\Заметки"}));
}

TEST(MessageStoreTest, FolderNamesCollideRegardlessOfLetterCase) {
    TempDir dir;
    auto store = MessageStore::Create(dir / "case.pst", "Case");
    const Nid top = store->ipmSubtree();
    const Nid projects = store->createFolder(top, "Projects");
    EXPECT_THROW(store->createFolder(top, "projects"), FolderNameCollision);
    EXPECT_THROW(store->createFolder(top, "PROJECTS"), FolderNameCollision);
    // Deleted Items came with the file.
    EXPECT_THROW(store->createFolder(top, "deleted items"), FolderNameCollision);
    store->createFolder(projects, "Été");
    EXPECT_THROW(store->createFolder(projects, "éTÉ"), FolderNameCollision);
    EXPECT_THROW(store->createFolder(projects, "ÉTÉ"), FolderNameCollision);
    store->createFolder(projects, "Straße");  // no folding across lengths
    store->createFolder(projects, "Été 2");
    EXPECT_EQ(store->findSubfolder(top, "pRoJeCtS"), projects);
    // The same name under another parent is fine.
    store->createFolder(store->createFolder(top, "Other"), "Projects");
    store->close();
    ExpectVerified(dir / "case.pst");
}

TEST(MessageStoreTest, RejectsWhatIsNotAStore) {
    TempDir dir;
    EXPECT_THROW(MessageStore::Open(dir / "missing.pst"), std::exception);
    auto store = MessageStore::Create(dir / "s.pst", "S");
    EXPECT_THROW(store->createFolder(store->ipmSubtree(), ""), MessagingError);
    EXPECT_THROW(store->createFolder(0x12345, "x"), MessagingError);
    EXPECT_THROW(store->addMessage(0x2223, MessageContent{}), MessagingError);  // search folder
}

}  // namespace
}  // namespace pst::messaging
