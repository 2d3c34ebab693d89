#include <gtest/gtest.h>

#include <algorithm>

#include "pst/ndb/bytes.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/header.h"
#include "pst/ndb/page.h"
#include "pst/ndb/pst_file.h"
#include "pst/ndb/verify.h"
#include "tests/pst/ndb/ndb_test_util.h"

namespace pst::ndb {
namespace {

using testing::Pattern;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

// Opening in either mode fails with a message holding `expected`, and the file is unchanged.
void ExpectRefused(const std::filesystem::path& path, const std::string& expected) {
    const auto before = ReadAll(path);
    for (auto mode : {PstFile::Mode::ReadOnly, PstFile::Mode::ReadWrite}) {
        try {
            PstFile::Open(path, mode);
            ADD_FAILURE() << path << " was accepted";
        } catch (const NdbError& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(ReadAll(path) == before) << path << " was changed";
    EXPECT_FALSE(VerifyFile(path).empty());
}

std::filesystem::path MakeFileWithOneNode(const ScratchDir& dir, const std::string& name) {
    const auto path = dir / name;
    auto f = PstFile::Create(path);
    f->PutNode({MakeNid(kNidTypeNormalMessage, 1), f->WriteStream(Pattern(3000, 1)), 0, 0});
    f->Commit();
    return path;
}

void ResealHeader(std::vector<uint8_t>& raw) {
    Put32(&raw[4], HeaderPartialCrc(raw.data()));
    Put32(&raw[524], HeaderFullCrc(raw.data()));
}

TEST(Refuse, AnsiFile) {
    const auto ansi = testing::SharedDir() / "corpus" / "pst" / "pstsdk_sample2.pst";
    if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared folder";
    ScratchDir dir;
    const auto path = dir / "ansi.pst";
    std::filesystem::copy_file(ansi, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    ExpectRefused(path, "ANSI");
}

TEST(Refuse, DamagedOrForeignHeaders) {
    ScratchDir dir;
    const auto path = MakeFileWithOneNode(dir, "h.pst");
    const auto good = ReadAll(path);

    auto raw = good;
    raw[100] ^= 0x01;  // inside both CRC ranges
    WriteAll(path, raw);
    ExpectRefused(path, "partial CRC");

    raw = good;
    raw[500] ^= 0x01;  // only the full CRC covers this byte
    WriteAll(path, raw);
    ExpectRefused(path, "full CRC");

    raw = good;
    raw[513] = 0x10;
    ResealHeader(raw);
    WriteAll(path, raw);
    ExpectRefused(path, "WIP");

    raw = good;
    Put16(&raw[10], 36);
    ResealHeader(raw);
    WriteAll(path, raw);
    ExpectRefused(path, "version 36");

    raw = good;
    raw[0] = 'X';
    WriteAll(path, raw);
    ExpectRefused(path, "not a PST");

    raw = good;
    raw.resize(200000);
    WriteAll(path, raw);
    ExpectRefused(path, "truncated");

    // A root reference with BID 0 (the page itself still sealed with its own BID).
    for (size_t field : {216, 232}) {
        raw = good;
        Put64(&raw[field], 0);
        ResealHeader(raw);
        WriteAll(path, raw);
        ExpectRefused(path, "BID 0");
    }
}

// A B-tree page two parent entries lead to: the verifier names it instead of walking it once per
// path (which multiplies at every level such sharing repeats), and listing refuses it.
TEST(Refuse, BTreePageReachedTwice) {
    ScratchDir dir;
    const auto path = dir / "shared.pst";
    {
        auto f = PstFile::Create(path);
        for (uint32_t i = 1; i <= 40; ++i)
            f->PutNode({MakeNid(kNidTypeNormalMessage, i), f->WriteBlock(Pattern(10, i)), 0, 0});
        f->Commit();
        ASSERT_EQ(f->NbtLevels(), 1);
    }
    auto raw = ReadAll(path);
    const Ib root = Get64(&raw[224]);
    PageImage page{};
    std::copy_n(raw.begin() + ptrdiff_t(root), kPageSize, page.begin());
    ASSERT_GE(ReadBtPageInfo(page).cEnt, 2);
    // Entry 1 keeps its key and takes entry 0's child (BID and offset).
    std::copy_n(page.begin() + 8, 16, page.begin() + kBtEntrySize + 8);
    SealPage(page, kPtypeNbt, Get64(&raw[216]), root);
    std::copy(page.begin(), page.end(), raw.begin() + ptrdiff_t(root));
    WriteAll(path, raw);

    const auto errors = VerifyFile(path);
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [](const std::string& e) {
        return e.find("reached twice") != std::string::npos;
    }));
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_THROW(f->ForEachNode([](const NodeEntry&) {}), NdbError);
}

TEST(Refuse, DamagedBlockIsReportedNotReturned) {
    ScratchDir dir;
    const auto path = MakeFileWithOneNode(dir, "b.pst");
    Ib leafIb = 0;
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
        leafIb = f->FindBlock(f->FindNode(MakeNid(kNidTypeNormalMessage, 1))->data)->ib;
    }
    auto raw = ReadAll(path);
    raw[leafIb + 10] ^= 0x40;
    WriteAll(path, raw);
    auto f = PstFile::Open(path, PstFile::Mode::ReadOnly);
    try {
        f->ReadStream(f->FindNode(MakeNid(kNidTypeNormalMessage, 1))->data);
        ADD_FAILURE() << "damaged data was returned";
    } catch (const NdbError& e) {
        EXPECT_NE(std::string(e.what()).find("CRC"), std::string::npos) << e.what();
    }
    f.reset();
    const auto errors = VerifyFile(path);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("data CRC"), std::string::npos) << errors[0];
}

TEST(Lock, OneWriterOrManyReaders) {
    ScratchDir dir;
    const auto path = MakeFileWithOneNode(dir, "lock.pst");
    {
        auto writer = PstFile::Open(path, PstFile::Mode::ReadWrite);
        for (auto mode : {PstFile::Mode::ReadWrite, PstFile::Mode::ReadOnly}) {
            try {
                PstFile::Open(path, mode);
                ADD_FAILURE() << "a second session got in";
            } catch (const NdbError& e) {
                EXPECT_NE(std::string(e.what()).find("is open in another session"),
                          std::string::npos)
                    << e.what();
            }
        }
        EXPECT_THROW(PstFile::CreateOrOpen(path), NdbError);
    }
    auto reader1 = PstFile::Open(path, PstFile::Mode::ReadOnly);
    auto reader2 = PstFile::Open(path, PstFile::Mode::ReadOnly);
    EXPECT_THROW(PstFile::Open(path, PstFile::Mode::ReadWrite), NdbError);
    reader1.reset();
    reader2.reset();
    EXPECT_NO_THROW(PstFile::Open(path, PstFile::Mode::ReadWrite));
}

// Dropping the object without Commit() leaves the file as it was and needing no repair.
TEST(Transaction, AbandonedChangesLeaveTheLastCommit) {
    ScratchDir dir;
    const auto path = MakeFileWithOneNode(dir, "abandon.pst");
    const auto before = ReadAll(path);
    {
        auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
        for (uint32_t i = 2; i < 200; ++i) {
            f->PutNode({MakeNid(kNidTypeNormalMessage, i), f->WriteStream(Pattern(9000, i)), 0, 0});
        }
        f->RemoveNode(MakeNid(kNidTypeNormalMessage, 1));
    }
    EXPECT_TRUE(VerifyFile(path).empty());
    auto f = PstFile::Open(path, PstFile::Mode::ReadWrite);
    EXPECT_FALSE(f->RecoveredMaps());
    EXPECT_TRUE(f->FindNode(MakeNid(kNidTypeNormalMessage, 1)));
    EXPECT_FALSE(f->FindNode(MakeNid(kNidTypeNormalMessage, 2)));
    EXPECT_EQ(std::filesystem::file_size(path), before.size());
}

}  // namespace
}  // namespace pst::ndb
