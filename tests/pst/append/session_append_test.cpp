// The conversion's object model on an existing file: the file's own default folders and store
// name, folders and mail added through the session.

#include <algorithm>

#include "fs/utf8_path.h"
#include "store/pst_session.h"
#include "tests/pst/append/append_fixture.h"

namespace pst::messaging {
namespace {

using namespace testing;

std::filesystem::path WriteEml(const TempDir& dir, int i) {
    const auto path = dir / ("m" + std::to_string(i) + ".eml");
    std::ofstream(path) << "From: Ann <ann@example.org>\r\nTo: Bob <bob@example.org>\r\n"
                           "Subject: Session mail "
                        << i
                        << "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: text/plain; charset=utf-8\r\n\r\nHello "
                        << i << "\r\n";
    return path;
}

void AddMail(store::Folder& folder, const std::filesystem::path& eml) {
    auto mail = folder.MailItems().Add(store::kMailItem);
    mail->Import(fs::Utf8FromPath(eml), 0);
    mail->Save();
}

// This file has a folder named Inbox that was never registered as the Inbox (its receive
// folder table sends all mail to the root): setting up the default folders adopts it rather
// than adding a second Inbox. The store answers to its own name and to the log-on name.
TEST(SessionAppend, OutlooksInboxAndStoreNameAreUsed) {
    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    TempDir dir;
    const auto file = WritableCopy("tika_testPST_variousBodyTypes.pst", dir);
    Nid outlookInbox = 0;
    {
        auto store = MessageStore::Open(file, true);
        EXPECT_FALSE(store->GetDefaultFolder(DefaultFolder::kInbox));
        outlookInbox = store->FindSubfolder(store->IpmSubtree(), "Inbox").value_or(0);
    }
    ASSERT_NE(outlookInbox, 0u);

    auto session = store::PstSessionFactory().CreateSession();
    auto s =
        session->LogonPstStore(fs::Utf8FromPath(file), store::kPstFormatUnicode, "Converted mail");
    s->ValidateIPMTree();
    auto inbox = s->GetDefaultFolder(store::kFolderInbox);
    EXPECT_EQ(inbox->Name(), "Inbox");
    EXPECT_EQ(inbox->SubFolders().Count(), 1);  // Outlook's "tmp"
    auto byStoreName = session->GetFolderFromPath("\\\\Outlook Data File\\Inbox\\tmp");
    auto byLogonName = session->GetFolderFromPath("\\\\Converted mail\\Inbox\\tmp");
    EXPECT_EQ(byStoreName->Name(), "tmp");
    EXPECT_EQ(byLogonName->Name(), "tmp");
    AddMail(*byStoreName, WriteEml(dir, 1));
    auto added = inbox->SubFolders().Add("From the converter", 0);
    for (int i = 2; i < 6; ++i) AddMail(*added, WriteEml(dir, i));
    session->Logoff();

    ExpectVerified(file);
    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(*store->GetDefaultFolder(DefaultFolder::kInbox), outlookInbox);
    EXPECT_EQ(store->DisplayName(), "Outlook Data File");
    const Nid tmp = *store->FindSubfolder(outlookInbox, "tmp");
    EXPECT_EQ(store->GetFolderInfo(tmp).contentCount, 5u);  // Outlook's 4 and ours
    EXPECT_EQ(store->GetFolderInfo(*store->FindSubfolder(outlookInbox, "From the converter"))
                  .contentCount,
              4u);
}

// The French file has no Inbox: setting up the default folders adds them and leaves Outlook's
// folders, names and messages alone; a second session finds what the first added.
TEST(SessionAppend, MissingDefaultFoldersAreAddedBesideLocalisedOnes) {
    if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared corpus";
    TempDir dir;
    const auto file = WritableCopy("tika_testPST.pst", dir);
    std::vector<std::pair<std::string, FolderInfo>> before;
    Nid deleted = 0;
    {
        auto store = MessageStore::Open(file, true);
        EXPECT_FALSE(store->GetDefaultFolder(DefaultFolder::kInbox));
        before = store->FolderTree(store->IpmSubtree());
        deleted = *store->GetDefaultFolder(DefaultFolder::kDeletedItems);
    }
    for (int session = 0; session < 2; ++session) {
        auto s = store::PstSessionFactory().CreateSession();
        auto st =
            s->LogonPstStore(fs::Utf8FromPath(file), store::kPstFormatUnicode, "hong-thai.nguyen");
        st->ValidateIPMTree();
        AddMail(*st->GetDefaultFolder(store::kFolderInbox), WriteEml(dir, session));
        AddMail(*st->GetDefaultFolder(store::kFolderSentMail), WriteEml(dir, 10 + session));
        s->Logoff();
    }
    ExpectVerified(file);

    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(store->GetDefaultFolder(DefaultFolder::kDeletedItems), deleted);
    EXPECT_EQ(store->GetFolderInfo(deleted).name, "Éléments supprimés");
    EXPECT_FALSE(store->FindSubfolder(store->IpmSubtree(), "Deleted Items"));
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    EXPECT_EQ(store->GetFolderInfo(inbox).contentCount, 2u);
    EXPECT_EQ(
        store->GetFolderInfo(*store->GetDefaultFolder(DefaultFolder::kSentItems)).contentCount, 2u);
    EXPECT_EQ(store->GetFolderInfo(store->IpmSubtree()).contentCount, 7u);
    const auto after = store->FolderTree(store->IpmSubtree());
    for (const auto& [path, info] : before) {
        auto it = std::find_if(after.begin(), after.end(),
                               [&](const auto& a) { return a.second.nid == info.nid; });
        ASSERT_NE(it, after.end()) << path;
        EXPECT_EQ(it->first, path);
        EXPECT_EQ(it->second.contentCount, info.contentCount);
    }
    // One set of default folders, however many sessions set them up.
    EXPECT_EQ(after.size(), before.size() + DefaultFolders().size() - 1);
}

}  // namespace
}  // namespace pst::messaging

namespace pst::messaging {
namespace {

// Paths reach the store as UTF-8 text. On Windows a conversion through the narrow code page
// would write "zoÃ«" instead of "zoë" and could not find a message file named outside it.
TEST(SessionAppend, NonAsciiFileNamesArriveIntact) {
    TempDir dir;
    const std::string folder = fs::Utf8FromPath(dir.path());
    const std::string pstName = "zo\u00EB \u65E5\u672C \u2603.pst";
    const std::string emlName = "Gr\u00FC\u00DFe \u041F\u0440\u0438.eml";
    std::ofstream(fs::PathFromUtf8(folder + "/" + emlName))
        << "From: a@example.org\r\nSubject: s\r\n\r\nbody\r\n";

    auto session = store::PstSessionFactory().CreateSession();
    auto s = session->LogonPstStore(folder + "/" + pstName, store::kPstFormatUnicode, "Mail");
    s->ValidateIPMTree();
    auto mail = s->GetDefaultFolder(store::kFolderInbox)->MailItems().Add(store::kMailItem);
    mail->Import(folder + "/" + emlName, 0);
    mail->Save();
    session->Logoff();

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(fs::Utf8FromPath(entry.path().filename()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{emlName, pstName}));
    auto store = MessageStore::Open(fs::PathFromUtf8(folder + "/" + pstName), true);
    EXPECT_EQ(store->GetFolderInfo(*store->GetDefaultFolder(DefaultFolder::kInbox)).contentCount,
              1u);
}

}  // namespace
}  // namespace pst::messaging
