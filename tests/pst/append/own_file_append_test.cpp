// Appending to our own files: a second and third session. A session killed in the middle of an
// append is in posix/killed_append_test.cpp.

#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/append/append_fixture.h"

namespace pst::messaging {
namespace {

using namespace testing;

TEST(OwnFileAppend, TwoMoreSessionsAddToTheFirst) {
    TempDir dir;
    const auto file = dir / "own.pst";
    {
        auto store = MessageStore::Create(file, "Own");
        store->ValidateIpmTree();
        store->Close();
    }
    Append(file, "first", 120, "Lists");
    const auto afterFirst = FileBytes(file);
    Append(file, "second", 80, "Lists");     // into the folder the first session made
    Append(file, "third", 40, "Elsewhere");  // and a new one beside it
    ExpectVerified(file);
    for (const auto& w : ndb::VerifyFileReport(file).warnings) ADD_FAILURE() << w;

    auto store = MessageStore::Open(file, true);
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    ASSERT_EQ(store->Subfolders(inbox).size(), 2u);
    const Nid lists = *store->FindSubfolder(inbox, "LISTS");
    const auto subjects = Subjects(*store, lists);
    ASSERT_EQ(subjects.size(), 200u);
    EXPECT_EQ(subjects[0], "first message 0");
    EXPECT_EQ(subjects[119], "first message 119");
    EXPECT_EQ(subjects[120], "second message 0");
    const FolderInfo info = store->GetFolderInfo(lists);
    EXPECT_EQ(info.contentCount, 200u);
    EXPECT_EQ(info.unreadCount, 100u);
    EXPECT_EQ(store->GetFolderInfo(*store->FindSubfolder(inbox, "Elsewhere")).contentCount, 40u);
    EXPECT_TRUE(store->GetFolderInfo(inbox).hasSubfolders);
    // Later sessions only added: the file the first one left is a prefix in size.
    EXPECT_GT(std::filesystem::file_size(file), afterFirst.size());
}

}  // namespace
}  // namespace pst::messaging
