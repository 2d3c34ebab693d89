#include <gtest/gtest.h>

#include <cstdlib>

#include "pst/ndb/errors.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::ReadAll;
using testing::ScratchDir;

constexpr const char* kUnicodeFiles[] = {
    "outlook-pst-rs_Empty.pst",
    "pstsdk_sample1.pst",
    "tika_testPST.pst",
    "tika_testPST_variousBodyTypes.pst",
};

std::filesystem::path CorpusFile(const char* name) {
    return testing::SharedDir() / "corpus" / "pst" / name;
}

class OutlookFiles : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared folder";
    }
};

TEST_P(OutlookFiles, OpenVerifyAndList) {
    const auto path = CorpusFile(GetParam());
    const VerifyReport report = VerifyFileReport(path);
    for (const auto& w : report.warnings) std::cout << "  warning: " << w << "\n";
    EXPECT_TRUE(report.errors.empty())
        << report.errors.size() << " errors, first: " << report.errors.front();
    EXPECT_GT(report.nodes, 20u);

    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_EQ(f->GetEncoding(), Encoding::Permute);
    size_t nodes = 0;
    size_t readable = 0;
    f->ForEachNode([&](const NodeEntry& n) {
        ++nodes;
        // Every node's stream and subnode tree reads back with sound trailers.
        if (f->ReadStream(n.data).size() == f->StreamSize(n.data)) ++readable;
        for (const auto& [nid, e] : f->ReadSubnodes(n.sub)) f->ReadStream(e.data);
    });
    EXPECT_EQ(nodes, report.nodes);
    EXPECT_EQ(readable, nodes);
    // The message store is a heap-on-node: decoding worked when its signature shows.
    const auto store = f->FindNode(0x21);
    ASSERT_TRUE(store);
    const auto bytes = f->ReadStream(store->data);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(bytes[2], 0xEC);
    EXPECT_EQ(bytes[3], 0xBC);
}

// Writing into an Outlook-made file keeps it sound and keeps what was there.
TEST_P(OutlookFiles, AcceptNewNodesAndStaySound) {
    ScratchDir dir;
    const auto path = dir / "copy.pst";
    std::filesystem::copy_file(CorpusFile(GetParam()), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    std::vector<NodeEntry> before;
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        f->ForEachNode([&](const NodeEntry& n) { before.push_back(n); });
        for (uint32_t i = 0; i < 50; ++i) {
            const Nid nid = f->AllocateNid(kNidTypeNormalMessage);
            f->PutNode({nid, f->WriteStream(testing::Pattern(3000, i)), 0, 0x8022});
        }
        f->Commit();
    }
    const auto errors = VerifyFile(path);
    EXPECT_TRUE(errors.empty()) << errors.front();
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    size_t kept = 0;
    for (const auto& n : before) kept += f->FindNode(n.nid) == n ? 1 : 0;
    EXPECT_EQ(kept, before.size());
}

Bid CopyData(PstFile& from, PstFile& to, Bid data) {
    if (data == 0) return 0;
    std::vector<Bid> leaves;  // block by block: heap blocks are not all full
    for (Bid b : from.DataBlocks(data)) leaves.push_back(to.WriteBlock(from.ReadBlock(b)));
    return to.WriteDataTree(leaves);
}

Bid CopySubnodes(PstFile& from, PstFile& to, Bid sub) {
    if (sub == 0) return 0;
    SubnodeMap map = from.ReadSubnodes(sub);
    for (auto& [nid, e] : map) {
        e.data = CopyData(from, to, e.data);
        e.sub = CopySubnodes(from, to, e.sub);
    }
    return to.WriteSubnodes(map);
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// Every node of an Outlook-made file copied into a file of ours, in each encoding: an
// independent reader must see the same folders and messages in both.
class Transcoded : public ::testing::TestWithParam<Encoding> {};

TEST_P(Transcoded, IndependentReaderSeesTheSameMailbox) {
    if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared folder";
    ScratchDir dir;
    const auto source = CorpusFile("tika_testPST.pst");
    const auto copy = dir / "copy.pst";
    {
        auto from = PstFile::Open(source, PstFile::Mode::ReadOnly);
        auto to = PstFile::Create(copy, GetParam());
        from->ForEachNode([&](const NodeEntry& n) {
            to->PutNode(
                {n.nid, CopyData(*from, *to, n.data), CopySubnodes(*from, *to, n.sub), n.parent});
        });
        to->Commit();
    }
    EXPECT_TRUE(VerifyFile(copy).empty());
    const auto tools = testing::SharedDir() / "tools" / "pst-readers";
    const std::string dump =
        "/usr/bin/python3 " + fs::Utf8FromPath(tools / "pypff_dump.py") + " --full ";
    ASSERT_EQ(Shell(dump + fs::Utf8FromPath(source) + " > " + fs::Utf8FromPath(dir / "a.json") +
                    " 2>/dev/null"),
              0);
    ASSERT_EQ(Shell(dump + fs::Utf8FromPath(copy) + " > " + fs::Utf8FromPath(dir / "b.json") +
                    " 2>/dev/null"),
              0);
    EXPECT_EQ(Shell("/usr/bin/python3 " + fs::Utf8FromPath(tools / "compare.py") + " --strict " +
                    fs::Utf8FromPath(dir / "a.json") + " " + fs::Utf8FromPath(dir / "b.json") +
                    " > /dev/null"),
              0);
}

INSTANTIATE_TEST_SUITE_P(Encodings, Transcoded,
                         ::testing::Values(Encoding::None, Encoding::Permute, Encoding::Cyclic));

INSTANTIATE_TEST_SUITE_P(Corpus, OutlookFiles, ::testing::ValuesIn(kUnicodeFiles),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (auto& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace pst::ndb
