// Files an append must not touch: each is refused with its cause named and left byte for byte
// as it was. Opening a sound file and closing it without adding anything changes nothing either.
// The refusal by the system to an unprivileged user is in posix/refuse_as_user_test.cpp.

#include "pst/messaging/errors.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/pst_file.h"
#include "store/pst_session.h"
#include "tests/pst/append/append_fixture.h"

namespace pst::messaging {
namespace {

using namespace testing;

std::filesystem::path OwnFile(const TempDir& dir, const std::string& name) {
    const auto path = dir / name;
    auto store = MessageStore::Create(path, "Own");
    store->ValidateIpmTree();
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    for (int i = 0; i < 20; ++i) store->AddMessage(inbox, AppendedMessage("own", i));
    store->Close();
    return path;
}

// Opening for an append fails naming `cause`, through the store and through a session, and
// the file is unchanged.
void ExpectRefused(const std::filesystem::path& path, const std::string& cause) {
    const auto before = FileBytes(path);
    try {
        MessageStore::Open(path);
        ADD_FAILURE() << path << " was opened for writing";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
    }
    auto session = store::PstSessionFactory().CreateSession();
    try {
        session->LogonPstStore(fs::Utf8FromPath(path), 0, "Name");
        ADD_FAILURE() << path << " was logged on to";
    } catch (const store::ComError& e) {
        EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
    }
    EXPECT_TRUE(FileBytes(path) == before) << path << " was changed";
}

TEST(AppendRefusal, ForeignDamagedAndAnsiFiles) {
    TempDir dir;
    const auto text = dir / "notes.pst";
    std::ofstream(text) << "This is a text file that someone named .pst\n";
    ExpectRefused(text, "not a PST");

    // A flipped byte in a message's data block: only the block CRC tells.
    const auto damaged = OwnFile(dir, "damaged.pst");
    uint64_t ib = 0;
    {
        auto f = ndb::PstFile::Open(damaged, ndb::PstFile::Mode::ReadOnly);
        f->ForEachNode([&](const ndb::NodeEntry& n) {
            if (ib == 0 && ndb::NidTypeOf(n.nid) == ndb::kNidTypeNormalMessage)
                ib = f->FindBlock(f->DataBlocks(n.data)[0])->ib;
        });
    }
    ASSERT_NE(ib, 0u);
    {
        std::fstream io(damaged, std::ios::in | std::ios::out | std::ios::binary);
        io.seekp(std::streamoff(ib + 40));
        io.put('\x5A');
    }
    ExpectRefused(damaged, "CRC");

    const auto truncated = OwnFile(dir, "truncated.pst");
    std::filesystem::resize_file(truncated, 300000);
    ExpectRefused(truncated, "truncated");

    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    ExpectRefused(WritableCopy("pstsdk_sample2.pst", dir), "ANSI");
}

// Damage the node database does not see: a table's heap signature, a folder that is its own
// parent's parent. Refused before the default folders (missing from a new store) are created,
// so the file does not gain them.
TEST(AppendRefusal, StoresTheVerifierCallsFaulty) {
    TempDir dir;
    Nid folder = 0;
    auto make = [&](const std::string& name) {
        const auto path = dir / name;
        auto store = MessageStore::Create(path, "Bare");
        folder = store->CreateFolder(store->IpmSubtree(), "Folder");
        store->Close();
        return path;
    };
    const auto signature = make("signature.pst");
    {
        auto db = ndb::PstFile::Open(signature, ndb::PstFile::Mode::ReadWrite);
        auto node = *db->FindNode(nid::HierarchyOf(nid::kIpmSubtree));
        auto bytes = db->ReadBlock(node.data);
        bytes[3] = 0xBC;  // a property context's
        node.data = db->WriteBlock(bytes);
        db->PutNode(node);
        db->Commit();
    }
    ExpectRefused(signature, "client signature 0xBC");

    const auto cycle = make("cycle.pst");
    {
        auto db = ndb::PstFile::Open(cycle, ndb::PstFile::Mode::ReadWrite);
        auto node = *db->FindNode(folder);
        node.parent = folder;
        db->PutNode(node);
        db->Commit();
    }
    ExpectRefused(cycle, "cycle");
}

TEST(AppendRefusal, ReadOnlyAndLockedFiles) {
    TempDir dir;
    const auto path = OwnFile(dir, "own.pst");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    ExpectRefused(path, "read-only");
    EXPECT_NO_THROW(MessageStore::Open(path, true));  // reading stays possible

    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    auto holder = MessageStore::Open(path);
    ExpectRefused(path, "open in another session");
    holder->Close();
    auto reader = MessageStore::Open(path, true);
    ExpectRefused(path, "open in another session");
}

// Log-on, looking around and log-off without a change leave every byte in place; an empty
// file counts as new and becomes a store.
TEST(AppendRefusal, OpeningWithoutChangesWritesNothing) {
    TempDir dir;
    std::vector<std::filesystem::path> files{OwnFile(dir, "own.pst")};
    if (std::filesystem::exists(SharedDir()))
        for (const auto& name : OutlookSamples()) files.push_back(WritableCopy(name, dir));
    for (const auto& path : files) {
        const auto before = FileBytes(path);
        {
            auto session = store::PstSessionFactory().CreateSession();
            auto s = session->LogonPstStore(fs::Utf8FromPath(path), 0, "Another name");
            s->IPMRootFolder()->SubFolders().Count();
            s->EntryID();
            session->Logoff();
        }
        {
            auto store = MessageStore::Open(path);
            store->FolderTree(store->IpmSubtree());
            store->Close();
        }
        EXPECT_TRUE(FileBytes(path) == before) << path << " was changed";
    }

    const auto empty = dir / "empty.pst";
    std::ofstream(empty).close();
    auto session = store::PstSessionFactory().CreateSession();
    auto s = session->LogonPstStore(fs::Utf8FromPath(empty), 0, "Fresh");
    s->ValidateIPMTree();
    EXPECT_EQ(s->GetDefaultFolder(store::kFolderInbox)->Name(), "Inbox");
    session->Logoff();
    ExpectVerified(empty);
}

}  // namespace
}  // namespace pst::messaging
