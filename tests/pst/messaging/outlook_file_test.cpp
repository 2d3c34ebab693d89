// Our reader on data files Outlook made: folders found through the store's entries, localised
// names, messages with an embedded message.

#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

std::filesystem::path Corpus(const char* name) {
    return testing::SharedDir() / "corpus/pst" / name;
}

TEST(OutlookFileTest, ReadsAFrenchOutlookFileWithAnEmbeddedMessage) {
    const auto file = Corpus("tika_testPST.pst");
    if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared corpus";
    auto report = VerifyStoreFile(file);
    for (const auto& e : report.errors) ADD_FAILURE() << e;
    EXPECT_EQ(report.messages, 7u);

    auto store = MessageStore::Open(file, true);
    EXPECT_EQ(store->DisplayName(), "hong-thai.nguyen");
    const Nid top = store->IpmSubtree();
    EXPECT_EQ(store->GetFolderInfo(top).name, "Début du fichier de données Outlook");
    // Deleted Items is found through its entry whatever its (French) name.
    auto deleted = store->GetDefaultFolder(DefaultFolder::kDeletedItems);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(store->GetFolderInfo(*deleted).name, "Éléments supprimés");
    EXPECT_EQ(store->FindSubfolder(top, "ÉLÉMENTS SUPPRIMÉS"), deleted);

    const auto ids = store->Messages(top);
    ASSERT_EQ(ids.size(), 7u);
    EXPECT_EQ(store->GetFolderInfo(top).contentCount, 7u);
    int embedded = 0;
    for (Nid nid : ids) {
        const MessageContent m = store->ReadMessage(nid);
        EXPECT_NE(m.props.Find(0x0037001F), nullptr);
        EXPECT_FALSE(m.recipients.empty());
        for (const auto& a : m.attachments) {
            if (!a.embedded) continue;
            ++embedded;
            // "FW: First email" holds "First email", which holds a .docx.
            EXPECT_EQ(m.props.Find(0x0037001F)->AsUtf8(), "FW: First email");
            ASSERT_EQ(a.embedded->attachments.size(), 1u);
            const PropertyValue* name = a.embedded->attachments[0].props.Find(0x3707001F);
            ASSERT_NE(name, nullptr);
            EXPECT_NE(name->AsUtf8().find(".docx"), std::string::npos);
        }
    }
    EXPECT_EQ(embedded, 1);
}

TEST(OutlookFileTest, OutlooksNewFileVerifies) {
    if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared corpus";
    auto report = VerifyStoreFile(Corpus("outlook-pst-rs_Empty.pst"));
    for (const auto& e : report.errors) ADD_FAILURE() << e;
    EXPECT_EQ(report.folders, 5u);
}

}  // namespace
}  // namespace pst::messaging
