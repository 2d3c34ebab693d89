#include "fs/file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "fs/utf8_path.h"
#include "tests/support/temp_dir.h"

namespace fs {
namespace {

using Kind = FileError::Kind;
using testsupport::TempDir;

std::string PathIn(const TempDir& dir, const std::string& name) {
    return Utf8FromPath(dir / name);
}

Kind KindOfOpening(const std::string& path, File::Mode mode) {
    try {
        File::Open(path, mode);
    } catch (const FileError& e) {
        EXPECT_STRNE(e.what(), "");
        return e.GetKind();
    }
    ADD_FAILURE() << path << " was opened";
    return Kind::Other;
}

std::string ReadString(const File& file, uint64_t offset, size_t n) {
    std::string out(n, '?');
    out.resize(file.ReadAt(offset, out.data(), n));
    return out;
}

TEST(File, PositionedWritesReadsAndTruncation) {
    TempDir dir;
    File file = File::Open(PathIn(dir, "data"), File::Mode::Create);
    file.WriteAt(0, "head", 4);
    file.WriteAt(100, "tail", 4);  // leaves a hole that reads as zeros
    EXPECT_EQ(file.Size(), 104u);
    EXPECT_EQ(ReadString(file, 0, 4), "head");
    // A read reaching past the end stops there; one starting past it gets nothing.
    EXPECT_EQ(ReadString(file, 98, 50), std::string(2, '\0') + "tail");
    EXPECT_EQ(ReadString(file, 500, 8), "");
    file.WriteAt(2, "ar", 2);  // over existing bytes
    file.Truncate(3);
    EXPECT_EQ(file.Size(), 3u);
    EXPECT_EQ(ReadString(file, 0, 10), "hea");
    file.SyncData();
    EXPECT_LE(std::abs(file.ModifiedTime() - int64_t(std::time(nullptr))), 120);
}

TEST(File, OpenModesAndWhatTheyRefuse) {
    TempDir dir;
    const std::string missing = PathIn(dir, "missing");
    EXPECT_EQ(KindOfOpening(missing, File::Mode::Read), Kind::NotFound);
    EXPECT_EQ(KindOfOpening(missing, File::Mode::ReadWrite), Kind::NotFound);
    // Create keeps what an existing file holds.
    File::Open(missing, File::Mode::Create).WriteAt(0, "kept", 4);
    File again = File::Open(missing, File::Mode::Create);
    EXPECT_EQ(ReadString(again, 0, 10), "kept");

    File reader = File::Open(missing, File::Mode::Read);
    EXPECT_THROW(reader.WriteAt(0, "x", 1), FileError);

    for (auto mode : {File::Mode::Read, File::Mode::ReadWrite, File::Mode::Create})
        EXPECT_EQ(KindOfOpening(Utf8FromPath(dir.dir("folder")), mode), Kind::Folder);
}

TEST(File, ReadOnlyMarkingIsSeenEvenWhereTheOpenSucceeds) {
    TempDir dir;
    const std::string path = Utf8FromPath(dir.file("marked"));
    EXPECT_TRUE(File::Open(path, File::Mode::Read).HasWritePermission());
    std::filesystem::permissions(dir / "marked", std::filesystem::perms::all,
                                 std::filesystem::perm_options::remove);
    std::filesystem::permissions(dir / "marked", std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(File::Open(path, File::Mode::Read).HasWritePermission());
    try {
        // Root gets in: the marking must still show.
        EXPECT_FALSE(File::Open(path, File::Mode::ReadWrite).HasWritePermission());
    } catch (const FileError& e) {
        EXPECT_TRUE(e.GetKind() == Kind::AccessDenied || e.GetKind() == Kind::ReadOnly) << e.what();
    }
    // Windows deletes no file so marked.
    std::filesystem::permissions(dir / "marked", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

TEST(File, OneExclusiveHolderOrManySharedOnesWithoutBlockingData) {
    TempDir dir;
    const std::string path = PathIn(dir, "locked");
    File writer = File::Open(path, File::Mode::Create);
    ASSERT_TRUE(writer.TryLock(true));
    writer.WriteAt(0, "data", 4);
    {
        File other = File::Open(path, File::Mode::ReadWrite);
        EXPECT_FALSE(other.TryLock(true));
        EXPECT_FALSE(other.TryLock(false));
        // The lock keeps out other lockers only: the bytes stay readable and writable.
        EXPECT_EQ(ReadString(other, 0, 4), "data");
        other.WriteAt(4, "more", 4);
        EXPECT_EQ(ReadString(writer, 0, 8), "datamore");
    }
    writer.Close();
    File reader1 = File::Open(path, File::Mode::Read);
    File reader2 = File::Open(path, File::Mode::Read);
    EXPECT_TRUE(reader1.TryLock(false));
    EXPECT_TRUE(reader2.TryLock(false));
    File late = File::Open(path, File::Mode::ReadWrite);
    EXPECT_FALSE(late.TryLock(true));
    reader1.Close();
    reader2.Close();
    EXPECT_TRUE(late.TryLock(true));
}

TEST(File, UnbufferedHandleWritesTheSameFileUnderTheLock) {
    TempDir dir;
    File file = File::Open(PathIn(dir, "direct"), File::Mode::Create);
    ASSERT_TRUE(file.TryLock(true));
    std::optional<File> direct = file.ReopenUnbuffered();
    if (!direct) GTEST_SKIP() << "no unbuffered writes on this file system";
    constexpr size_t kAlign = File::kUnbufferedAlignment;
    auto* page = static_cast<char*>(AlignedAlloc(kAlign, 2 * kAlign));
    std::memset(page, 'p', 2 * kAlign);
    direct->WriteAt(kAlign, page, 2 * kAlign);
    AlignedFree(page);
    EXPECT_EQ(file.Size(), 3 * kAlign);
    EXPECT_EQ(ReadString(file, 3 * kAlign - 2, 4), "pp");
}

TEST(File, HandsItsBytesToTheCRuntime) {
    TempDir dir;
    const std::string path = Utf8FromPath(dir.file("crt", std::string("a\r\nb\032c", 6)));
    File file = File::Open(path, File::Mode::Read);
    std::FILE* stream = fdopen(file.TakeCrtDescriptor(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(file.IsOpen());
    char got[16] = {};
    // Binary: no line-end translation, no stop at Ctrl-Z.
    EXPECT_EQ(std::fread(got, 1, sizeof got, stream), 6u);
    EXPECT_EQ(std::string(got, 6), std::string("a\r\nb\032c", 6));
    std::fclose(stream);
}

}  // namespace
}  // namespace fs
