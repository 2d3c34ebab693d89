// pst::verify runs the heap, table and row checks on every node and subnode: each damage
// below must be named with the node (and subnode) it sits in.

#include <fstream>
#include <functional>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/well_known.h"
#include "pst/ndb/pst_file.h"
#include "pst/verify.h"
#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

using testing::TempDir;

struct Written {
    Nid folder = 0;
    Nid message = 0;
};

// A sound store (one folder, one message with an attachment), then `fault` applied to the
// file's nodes and committed; returns the verifier's findings.
VerifyReport Damaged(const std::function<void(ndb::PstFile&, const Written&)>& fault) {
    TempDir dir;
    const auto file = dir / "damaged.pst";
    Written w;
    {
        auto store = MessageStore::Create(file, "Damaged");
        w.folder = store->CreateFolder(store->IpmSubtree(), "Folder");
        MessageContent m = testing::MakeMessage("subject", "body");
        m.attachments.push_back(testing::MakeAttachment("a.bin", {1, 2, 3}));
        w.message = store->AddMessage(w.folder, m);
        store->Close();
    }
    const VerifyReport sound = pst::Verify(file);
    for (const auto& e : sound.errors) ADD_FAILURE() << "before the damage: " << e;
    {
        auto db = ndb::PstFile::Open(file, ndb::PstFile::Mode::ReadWrite);
        fault(*db, w);
        db->Commit();
    }
    return pst::Verify(file);
}

// The node's (or one of its subnodes') heap, first block changed by `edit` and rewritten.
ndb::Bid EditedHeap(ndb::PstFile& db, ndb::Bid data,
                    const std::function<void(std::vector<uint8_t>&)>& edit) {
    auto leaves = db.DataBlocks(data);
    EXPECT_EQ(leaves.size(), 1u);
    auto raw = db.ReadBlock(leaves[0]);
    edit(raw);
    return db.WriteBlock(raw);
}

void EditSubnode(ndb::PstFile& db, Nid node, Nid subnode,
                 const std::function<void(ndb::SubnodeMap&, ndb::SubnodeEntry&)>& edit) {
    auto entry = *db.FindNode(node);
    ndb::SubnodeMap sub = db.ReadSubnodes(entry.sub);
    edit(sub, sub.at(subnode));
    entry.sub = db.WriteSubnodes(sub);
    db.PutNode(entry);
}

bool Names(const VerifyReport& report, const std::string& where, const std::string& what) {
    for (const auto& e : report.errors)
        if (e.rfind(where, 0) == 0 && e.find(what) != std::string::npos) return true;
    return false;
}

std::string All(const VerifyReport& report) {
    std::string out;
    for (const auto& e : report.errors) out += e + "\n";
    return out;
}

TEST(StrictVerifierTest, NamesHeapFaultsWithTheirNode) {
    Nid folder = 0;
    auto report = Damaged([&](ndb::PstFile& db, const Written& w) {
        folder = w.folder;
        auto entry = *db.FindNode(w.folder);
        entry.data = EditedHeap(db, entry.data, [](std::vector<uint8_t>& raw) {
            raw[2] = 0xEE;  // bSig
        });
        db.PutNode(entry);
    });
    EXPECT_TRUE(Names(report, "node " + ndb::Hex(folder), "bSig 0xEE")) << All(report);
}

TEST(StrictVerifierTest, NamesFaultsInsideSubnodes) {
    Nid message = 0;
    auto report = Damaged([&](ndb::PstFile& db, const Written& w) {
        message = w.message;
        // The attachment table's page map: the first item no longer starts after the header.
        EditSubnode(db, w.message, nid::kMessageAttachments,
                    [&](ndb::SubnodeMap&, ndb::SubnodeEntry& e) {
                        e.data = EditedHeap(db, e.data, [](std::vector<uint8_t>& raw) {
                            const size_t ibHnpm = raw[0] | raw[1] << 8;
                            raw[ibHnpm + 4] = 14;
                        });
                    });
    });
    EXPECT_TRUE(Names(report, "node " + ndb::Hex(message) + " subnode 0x671", "first item at 14"))
        << All(report);
}

TEST(StrictVerifierTest, NamesRowsThatDisagreeWithTheirObjects) {
    Nid message = 0;
    auto report = Damaged([&](ndb::PstFile& db, const Written& w) {
        message = w.message;
        auto entry = *db.FindNode(nid::ContentsOf(w.folder));
        ndb::SubnodeMap sub = db.ReadSubnodes(entry.sub);
        ltp::TableContext tc(db, sub, entry.data);
        tc.UpdateRow(w.message, {PropertyValue::StringUtf8(0x0037001F, "another subject")});
        entry.data = tc.Write();
        entry.sub = db.WriteSubnodes(sub);
        db.PutNode(entry);

        EditSubnode(db, w.message, nid::kMessageAttachments,
                    [&](ndb::SubnodeMap& msub, ndb::SubnodeEntry& e) {
                        ltp::TableContext at(db, msub, e.data);
                        at.UpdateRow(at.RowIdAt(0),
                                     {PropertyValue::StringUtf8(0x3704001F, "renamed.bin")});
                        e.data = at.Write();
                    });
    });
    EXPECT_TRUE(Names(report, "message " + ndb::Hex(message) + " contents row",
                      "row value " + ndb::Hex(0x0037001F) + " differs"))
        << All(report);
    EXPECT_TRUE(Names(report, "message " + ndb::Hex(message) + " attachment",
                      "row value " + ndb::Hex(0x3704001F) + " differs"))
        << All(report);
}

// wVer at offset 10: 23 for the Unicode files this writer and verifier deal with.
bool IsUnicodeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    char header[12] = {};
    in.read(header, sizeof header);
    return (uint8_t(header[10]) | uint8_t(header[11]) << 8) >= 23;
}

TEST(StrictVerifierTest, AttachmentBytesThatLookLikeAHeapAreNotCheckedAsOne) {
    // Large attachment data lives in a raw subnode; its bytes may start like a heap header.
    TempDir dir;
    const auto file = dir / "lookalike.pst";
    {
        auto store = MessageStore::Create(file, "Lookalike");
        MessageContent m = testing::MakeMessage("subject", "body");
        std::vector<uint8_t> data(12000, 0x43);
        data[0] = 0xCA;
        data[1] = 0x31;
        data[2] = 0xEC;  // the heap signature byte
        m.attachments.push_back(testing::MakeAttachment("a.bin", data));
        store->AddMessage(store->IpmSubtree(), m);
        store->Close();
    }
    const VerifyReport report = pst::Verify(file);
    for (const auto& e : report.errors) ADD_FAILURE() << e;
}

TEST(StrictVerifierTest, UnicodeFilesMadeByOutlookAreSound) {
    const auto dir = testing::SharedDir() / "corpus/pst";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no shared corpus";
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".pst" || !IsUnicodeFile(e.path())) continue;
        ++files;
        const VerifyReport report = pst::Verify(e.path());
        for (const auto& err : report.errors) ADD_FAILURE() << e.path().filename() << ": " << err;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace pst::messaging
