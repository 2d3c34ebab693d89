// Outlook-made PST files (/work/shared/corpus/pst) read through this layer, and rewritten by
// it: the rewritten files must read the same in independent PST readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/verify.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ltp/test_values.h"

namespace pst::ltp {
namespace {

namespace sfs = std::filesystem;
using ndb::PstFile;
using testing::ScratchDir;

const sfs::path kCorpus = sfs::path(EML2PST_SHARED_DIR) / "corpus" / "pst";
const sfs::path kReaders = sfs::path(EML2PST_SHARED_DIR) / "tools" / "pst-readers";
const char* const kUnicodeFiles[] = {"outlook-pst-rs_Empty.pst", "pstsdk_sample1.pst",
                                     "tika_testPST.pst", "tika_testPST_variousBodyTypes.pst"};

// The client signature of the heap a data stream holds, or 0 when it is not a heap.
uint8_t HeapSignature(const ndb::NodeDatabase& db, ndb::Bid data) {
    if (data == 0) return 0;
    auto first = db.ReadBlock(db.DataBlocks(data).at(0));
    return first.size() >= 12 && first[2] == 0xEC ? first[3] : 0;
}

struct Counts {
    size_t pcs = 0, tcs = 0, properties = 0, rows = 0, verified = 0;
};

// Reads every PC and TC of a node and of its subnodes (raw 0x1F value subnodes excluded).
void ReadAll(ndb::NodeDatabase& db, ndb::Nid nid, ndb::Bid data, ndb::Bid sub, Counts& counts) {
    SCOPED_TRACE("node " + Hex(nid));
    auto subnodes = db.ReadSubnodes(sub);
    uint8_t sig = HeapSignature(db, data);
    if (sig != 0) {
        auto findings = VerifyHeapNode(db, data, subnodes);
        EXPECT_TRUE(findings.empty())
            << findings.size() << " findings, first: " << findings.front();
        ++counts.verified;
    }
    if (sig == kClientSigPc) {
        PropertyContext pc(db, subnodes, data);
        for (const auto& v : pc.GetAll()) {
            EXPECT_EQ(v.size(), pc.ValueSize(v.Id()));
            ++counts.properties;
        }
        ++counts.pcs;
    } else if (sig == kClientSigTc) {
        TableContext tc(db, subnodes, data);
        for (size_t i = 0; i < tc.RowCount(); ++i) {
            EXPECT_EQ(tc.FindRow(tc.RowIdAt(i)), i);
            EXPECT_FALSE(tc.Row(i).empty());
            ++counts.rows;
        }
        ++counts.tcs;
    }
    for (const auto& [child, e] : subnodes) {
        if (ndb::NidTypeOf(child) != ndb::kNidTypeLtp) ReadAll(db, child, e.data, e.sub, counts);
    }
}

TEST(OutlookMadeContexts, EveryPropertyAndTableContextReads) {
    if (!sfs::exists(kCorpus)) GTEST_SKIP() << kCorpus << " is absent";
    for (const char* name : kUnicodeFiles) {
        SCOPED_TRACE(name);
        auto db = PstFile::Open(kCorpus / name, PstFile::Mode::ReadOnly);
        Counts counts;
        db->ForEachNode(
            [&](const ndb::NodeEntry& e) { ReadAll(*db, e.nid, e.data, e.sub, counts); });
        // Even the empty file has the store, name map and folder PCs and the template tables.
        EXPECT_GE(counts.pcs, 8u);
        EXPECT_GE(counts.tcs, 10u);
        EXPECT_GT(counts.properties, 60u);
        EXPECT_GE(counts.rows, 5u);
        EXPECT_GE(counts.verified, counts.pcs + counts.tcs);
    }
}

TEST(OutlookMadeContexts, OutlookTablesTakeNewColumnsAndRows) {
    if (!sfs::exists(kCorpus)) GTEST_SKIP() << kCorpus << " is absent";
    ScratchDir dir;
    const sfs::path copy = dir / "copy.pst";
    sfs::copy_file(kCorpus / "tika_testPST.pst", copy);
    sfs::permissions(copy, sfs::perms::owner_write, sfs::perm_options::add);
    auto db = PstFile::Open(copy, PstFile::Mode::ReadWrite);
    std::vector<ndb::NodeEntry> tables;
    db->ForEachNode([&](const ndb::NodeEntry& e) {
        if (HeapSignature(*db, e.data) == kClientSigTc) tables.push_back(e);
    });
    ASSERT_GT(tables.size(), 10u);
    for (const auto& e : tables) {
        SCOPED_TRACE("node " + Hex(e.nid));
        auto subnodes = db->ReadSubnodes(e.sub);
        TableContext tc(*db, subnodes, e.data);
        std::vector<std::vector<PropertyValue>> before;
        for (size_t i = 0; i < tc.RowCount(); ++i) before.push_back(tc.Row(i));
        // Outlook's own column layout first, then after a column was added.
        for (uint32_t id : {0x7FFF0001u, 0x7FFF0002u}) {
            tc.AppendRow(id, {PropertyValue::Int32(TableContext::kRowVerTag, 9)});
            tc.AddColumn(0x7FFE001F);
        }
        tc.UpdateRow(0x7FFF0001, {PropertyValue::StringUtf8(0x7FFE001F, "added later")});
        ndb::Bid data = tc.Write();
        auto findings = VerifyHeapNode(*db, data, subnodes);
        EXPECT_TRUE(findings.empty()) << findings.front();
        TableContext back(*db, subnodes, data);
        ASSERT_EQ(back.RowCount(), before.size() + 2);
        for (size_t i = 0; i < before.size(); ++i) {
            auto row = back.Row(i);
            ASSERT_EQ(row.size(), before[i].size());
            for (size_t k = 0; k < row.size(); ++k) EXPECT_EQ(row[k].Bytes(), before[i][k].Bytes());
        }
        EXPECT_EQ(back.RowById(0x7FFF0001)->back().AsUtf8(), "added later");
    }
}

// Builds every PC and TC of a node afresh with this layer's writer; returns the new data.
ndb::Bid Rewrite(ndb::NodeDatabase& db, ndb::Bid data, ndb::SubnodeMap& subnodes,
                 size_t& rewritten) {
    for (auto& [child, e] : subnodes) {
        if (ndb::NidTypeOf(child) == ndb::kNidTypeLtp) continue;
        auto grandchildren = db.ReadSubnodes(e.sub);
        e.data = Rewrite(db, e.data, grandchildren, rewritten);
        e.sub = db.WriteSubnodes(grandchildren);
    }
    uint8_t sig = HeapSignature(db, data);
    if (sig != kClientSigPc && sig != kClientSigTc) return data;
    // Raw value subnodes belong to the old heap; the new one makes its own.
    ndb::SubnodeMap fresh;
    for (const auto& [child, e] : subnodes) {
        if (ndb::NidTypeOf(child) != ndb::kNidTypeLtp) fresh.emplace(child, e);
    }
    ndb::Bid result = 0;
    if (sig == kClientSigPc) {
        PropertyContext old(db, subnodes, data);
        result = PropertyContext::Write(db, fresh, old.GetAll());
    } else {
        TableContext old(db, subnodes, data);
        std::vector<uint32_t> tags;
        for (const auto& c : old.Columns()) tags.push_back(c.tag);
        TableContext made(db, fresh, tags);
        for (size_t i = 0; i < old.RowCount(); ++i) {
            std::vector<PropertyValue> cells;
            for (auto& v : old.Row(i)) {
                if (v.Tag() != TableContext::kRowIdTag) cells.push_back(std::move(v));
            }
            made.AppendRow(old.RowIdAt(i), cells);
        }
        result = made.Write();
    }
    subnodes = std::move(fresh);
    ++rewritten;
    return result;
}

// Runs a reader's dump script; false when the reader is not installed.
bool Dump(const std::string& script, const sfs::path& pst, const sfs::path& out) {
    std::string cmd = "/usr/bin/python3 " + fs::Utf8FromPath(kReaders / script) +
                      " --full --all-folders '" + fs::Utf8FromPath(pst) + "' > '" +
                      fs::Utf8FromPath(out) + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST(OutlookMadeContexts, RewrittenContextsReadTheSameInIndependentReaders) {
    if (!sfs::exists(kCorpus)) GTEST_SKIP() << kCorpus << " is absent";
    for (const char* name : {"pstsdk_sample1.pst", "tika_testPST.pst"}) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        sfs::create_directories(dir / "original");
        sfs::create_directories(dir / "rewritten");
        const sfs::path original = dir / "original" / name;
        const sfs::path rewritten = dir / "rewritten" / name;
        sfs::copy_file(kCorpus / name, original);
        sfs::copy_file(kCorpus / name, rewritten);
        sfs::permissions(rewritten, sfs::perms::owner_write, sfs::perm_options::add);
        {
            auto db = PstFile::Open(rewritten, PstFile::Mode::ReadWrite);
            std::vector<ndb::NodeEntry> nodes;
            db->ForEachNode([&](const ndb::NodeEntry& e) { nodes.push_back(e); });
            size_t rewritten = 0;
            for (auto e : nodes) {
                auto subnodes = db->ReadSubnodes(e.sub);
                e.data = Rewrite(*db, e.data, subnodes, rewritten);
                e.sub = db->WriteSubnodes(subnodes);
                db->PutNode(e);
            }
            db->Commit();
            EXPECT_GT(rewritten, 20u);
        }
        auto errors = ndb::VerifyFile(rewritten);
        EXPECT_TRUE(errors.empty()) << errors.front();
        {
            auto db = PstFile::Open(rewritten, PstFile::Mode::ReadOnly);
            Counts counts;
            db->ForEachNode(
                [&](const ndb::NodeEntry& e) { ReadAll(*db, e.nid, e.data, e.sub, counts); });
        }
        for (const char* script : {"pypff_dump.py", "readpst_dump.py"}) {
            SCOPED_TRACE(script);
            ASSERT_TRUE(Dump(script, original, dir / "a.json")) << "reader missing or failing";
            ASSERT_TRUE(Dump(script, rewritten, dir / "b.json"));
            std::string cmp = "/usr/bin/python3 " + fs::Utf8FromPath(kReaders / "compare.py") +
                              " --strict '" + fs::Utf8FromPath(dir / "a.json") + "' '" +
                              fs::Utf8FromPath(dir / "b.json") + "'";
            EXPECT_EQ(std::system(cmp.c_str()), 0);
        }
    }
}

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
        pclose(p);
    }
    return out;
}

TEST(OutlookMadeContexts, AttachmentTableInASubnodeReadsInIndependentReaders) {
    if (!sfs::exists(kCorpus)) GTEST_SKIP() << kCorpus << " is absent";
    ScratchDir dir;
    const sfs::path copy = dir / "many.pst";
    sfs::copy_file(kCorpus / "pstsdk_sample1.pst", copy);
    sfs::permissions(copy, sfs::perms::owner_write, sfs::perm_options::add);
    {
        // The sample's one attachment, attached 199 more times: the attachment table's row
        // matrix outgrows the heap and moves to a subnode.
        auto db = PstFile::Open(copy, PstFile::Mode::ReadWrite);
        std::optional<ndb::NodeEntry> message;
        db->ForEachNode([&](const ndb::NodeEntry& e) {
            if (ndb::NidTypeOf(e.nid) == ndb::kNidTypeNormalMessage) message = e;
        });
        ASSERT_TRUE(message.has_value());
        auto subnodes = db->ReadSubnodes(message->sub);
        ndb::SubnodeEntry table = subnodes.at(0x671);
        auto tableSubnodes = db->ReadSubnodes(table.sub);
        TableContext tc(*db, tableSubnodes, table.data);
        ASSERT_EQ(tc.RowCount(), 1u);
        const ndb::Nid first = tc.RowIdAt(0);
        std::vector<PropertyValue> cells;
        for (auto& v : tc.Row(0)) {
            if (v.Tag() != TableContext::kRowIdTag) cells.push_back(std::move(v));
        }
        for (uint32_t k = 1; k < 200; ++k) {
            const ndb::Nid nid = ndb::MakeNid(ndb::kNidTypeAttachment, ndb::NidIndexOf(first) + k);
            ASSERT_FALSE(subnodes.count(nid));
            subnodes[nid] = subnodes.at(first);
            tc.AppendRow(nid, cells);
        }
        EXPECT_TRUE(tc.RowsInSubnode());
        table.data = tc.Write();
        table.sub = db->WriteSubnodes(tableSubnodes);
        subnodes[0x671] = table;
        message->sub = db->WriteSubnodes(subnodes);
        db->PutNode(*message);
        db->Commit();
    }
    const std::string count =
        "import json,sys; d=json.load(open(sys.argv[1])); "
        "print(sum(len(m['attachments']) for m in d['messages']))";
    size_t readers = 0;
    for (const char* script : {"pypff_dump.py", "readpst_dump.py"}) {
        SCOPED_TRACE(script);
        if (!Dump(script, copy, dir / "dump.json")) continue;
        ++readers;
        EXPECT_EQ(Capture("/usr/bin/python3 -c \"" + count + "\" '" +
                          fs::Utf8FromPath(dir / "dump.json") + "'"),
                  "200\n");
    }
    EXPECT_EQ(readers, 2u) << "PST readers missing (pst-utils, python3-pypff)";
}

}  // namespace
}  // namespace pst::ltp
