// The messaging checks catch stores that break the rules, one fault at a time.

#include <functional>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/pst_file.h"
#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

using testing::TempDir;

struct Fixture {
    Nid folder = 0;
    Nid message = 0;
};

// A sound store with one folder holding one unread message, then `fault` applied to the file's
// nodes directly and committed.
StoreReport Damaged(const std::function<void(ndb::PstFile&, const Fixture&)>& fault) {
    TempDir dir;
    const auto file = dir / "damaged.pst";
    Fixture fx;
    {
        auto store = MessageStore::Create(file, "Damaged");
        fx.folder = store->CreateFolder(store->IpmSubtree(), "Folder");
        MessageContent m = testing::MakeMessage("unread", "body");
        m.props.Set(PropertyValue::Int32(0x0E070003, 0));
        fx.message = store->AddMessage(fx.folder, m);
        store->Close();
    }
    EXPECT_TRUE(VerifyStoreFile(file).Ok());
    {
        auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite);
        fault(*db, fx);
        db->Commit();
    }
    return VerifyStoreFile(file);
}

void EditPc(ndb::PstFile& db, Nid nid, const std::function<void(ltp::PropertyContext&)>& edit) {
    auto node = *db.FindNode(nid);
    ndb::SubnodeMap sub = db.ReadSubnodes(node.sub);
    ltp::PropertyContext pc(db, sub, node.data);
    edit(pc);
    node.data = pc.Write();
    node.sub = db.WriteSubnodes(sub);
    db.PutNode(node);
}

void EditTable(ndb::PstFile& db, Nid nid, const std::function<void(ltp::TableContext&)>& edit) {
    auto node = *db.FindNode(nid);
    ndb::SubnodeMap sub = db.ReadSubnodes(node.sub);
    ltp::TableContext tc(db, sub, node.data);
    edit(tc);
    node.data = tc.Write();
    node.sub = db.WriteSubnodes(sub);
    db.PutNode(node);
}

bool Mentions(const StoreReport& report, const std::string& text) {
    for (const auto& e : report.errors)
        if (e.find(text) != std::string::npos) return true;
    return false;
}

TEST(StoreVerifierTest, CatchesCountsThatDisagreeWithTheContentsTable) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        EditPc(db, fx.folder, [](ltp::PropertyContext& pc) {
            pc.Set(PropertyValue::Int32(tag::kContentCount, 2));
            pc.Set(PropertyValue::Int32(tag::kContentUnreadCount, 0));
        });
    });
    EXPECT_TRUE(Mentions(report, "content count 2 but 1 contents rows"));
    EXPECT_TRUE(Mentions(report, "unread count 0 but 1 unread rows"));
    // The parent's copy of the counts now differs from the folder's own values.
    EXPECT_TRUE(Mentions(report, "differs from the folder's own"));
}

TEST(StoreVerifierTest, CatchesAMessageMissingFromItsFolderTable) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        EditTable(db, nid::ContentsOf(fx.folder),
                  [&fx](ltp::TableContext& tc) { tc.DeleteRow(fx.message); });
    });
    EXPECT_TRUE(Mentions(report, "no row in the contents table"));
    EXPECT_TRUE(Mentions(report, "content count 1 but 0 contents rows"));
}

TEST(StoreVerifierTest, CatchesAFolderMissingFromItsParent) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        EditTable(db, nid::HierarchyOf(nid::kIpmSubtree),
                  [&fx](ltp::TableContext& tc) { tc.DeleteRow(fx.folder); });
    });
    EXPECT_TRUE(Mentions(report, "0 rows in the parent's hierarchy table"));
}

TEST(StoreVerifierTest, CatchesBrokenStoreEntriesAndNameMap) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture&) {
        EditPc(db, nid::kMessageStore, [](ltp::PropertyContext& pc) {
            std::vector<uint8_t> entry = pc.Get(PropIdOf(tag::kIpmWastebasketEntryId))->Bytes();
            entry[21] ^= 0x10;  // a NID no node has
            pc.Set(PropertyValue(tag::kIpmWastebasketEntryId, entry));
        });
        EditPc(db, nid::kNameToIdMap, [](ltp::PropertyContext& pc) {
            pc.Remove(0x1097);  // the bucket of the first entry
        });
    });
    EXPECT_TRUE(Mentions(report, "entry 0x35E30102 names"));
    EXPECT_TRUE(Mentions(report, "bucket contents do not match"));
}

TEST(StoreVerifierTest, CatchesMissingMandatoryNodesAndRecipientTables) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        db.RemoveNode(nid::kSearchActivityList);
        auto node = *db.FindNode(fx.message);
        ndb::SubnodeMap sub = db.ReadSubnodes(node.sub);
        sub.erase(nid::kMessageRecipients);
        node.sub = db.WriteSubnodes(sub);
        db.PutNode(node);
    });
    EXPECT_TRUE(Mentions(report, "mandatory node 0x201 is missing"));
    EXPECT_TRUE(Mentions(report, "no recipient table"));
}

// Folders whose parents lead round in a circle never reach the root: readers that follow
// parents or hierarchy rows do not end.
TEST(StoreVerifierTest, CatchesAParentCycle) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        auto folder = *db.FindNode(fx.folder);
        auto deleted = *db.FindNode(nid::kDeletedItems);
        folder.parent = nid::kDeletedItems;
        deleted.parent = fx.folder;
        db.PutNode(folder);
        db.PutNode(deleted);
    });
    EXPECT_TRUE(Mentions(report, "parent chain runs in a cycle"));
    EXPECT_TRUE(Mentions(report, "whose parent is"));
}

// A hierarchy row leading back up the tree: reported, and listing still ends.
TEST(StoreVerifierTest, CatchesAHierarchyRowNamingAnAncestor) {
    TempDir dir;
    const auto file = dir / "loop.pst";
    Nid folder = 0;
    {
        auto store = MessageStore::Create(file, "Loop");
        folder = store->CreateFolder(store->IpmSubtree(), "Folder");
        store->Close();
    }
    {
        auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite);
        EditTable(*db, nid::HierarchyOf(folder),
                  [](ltp::TableContext& tc) { tc.AppendRow(nid::kIpmSubtree, {}); });
        db->Commit();
    }
    const auto report = VerifyStoreFile(file);
    EXPECT_TRUE(Mentions(report, "hierarchy row names 0x8022, whose parent is 0x122"));
    auto store = MessageStore::Open(file, true);
    const auto tree = store->FolderTree(store->IpmSubtree());
    ASSERT_EQ(tree.size(), 2u);  // Deleted Items and Folder, nothing below them
    EXPECT_EQ(tree[1].first, "Folder");
}

// A table whose heap claims another kind of content: readers that go by the signature cannot
// open it, whatever the rest of the heap says.
TEST(StoreVerifierTest, CatchesATableWithTheWrongClientSignature) {
    auto report = Damaged([](ndb::PstFile& db, const Fixture& fx) {
        auto node = *db.FindNode(nid::ContentsOf(fx.folder));
        auto bytes = db.ReadBlock(node.data);
        bytes[3] = 0x6C;
        node.data = db.WriteBlock(bytes);
        db.PutNode(node);
    });
    EXPECT_TRUE(Mentions(report, "bClientSig 0x6C, expected 0x7C"));
}

// A message whose folder's table cannot be read fails before its node is written: nothing is
// left that no contents row names.
TEST(StoreVerifierTest, AFailedMessageLeavesNoNode) {
    TempDir dir;
    const auto file = dir / "orphan.pst";
    Nid folder = 0;
    {
        auto store = MessageStore::Create(file, "Orphan");
        folder = store->CreateFolder(store->IpmSubtree(), "Folder");
        store->Close();
    }
    {
        auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite);
        auto node = *db->FindNode(nid::ContentsOf(folder));
        auto bytes = db->ReadBlock(node.data);
        bytes[3] = 0x6C;
        node.data = db->WriteBlock(bytes);
        db->PutNode(node);
        db->Commit();
    }
    // Opened past the checks an add makes first, as a fault found only while adding would be.
    auto store = MessageStore::OpenOn(ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite));
    EXPECT_ANY_THROW(store->AddMessage(folder, testing::MakeMessage("lost", "body")));
    store->Commit();
    size_t messages = 0;
    dynamic_cast<const ndb::PstFile&>(store->Database()).ForEachNode([&](const ndb::NodeEntry& e) {
        if (ndb::NidTypeOf(e.nid) == ndb::kNidTypeNormalMessage) ++messages;
    });
    EXPECT_EQ(messages, 0u);
}

}  // namespace
}  // namespace pst::messaging
