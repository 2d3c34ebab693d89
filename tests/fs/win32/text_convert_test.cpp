#include "fs/win32/text_convert.h"

#include "fs/mod_files.h"
#include "tests/fs/win32/win32_fixture.h"

namespace fs::win32::testing {
namespace {

TEST(TextConvert, Utf8AndUtf16RoundTripInEveryPlane) {
    const std::string utf8 = "a\xC3\xA9Ж世\xF0\x9F\x93\xA8\x7F\xF4\x8F\xBF\xBF";
    std::u16string wide = WideFromUtf8(utf8);
    EXPECT_EQ(wide, u"a\u00E9Ж世\U0001F4E8\x7F\U0010FFFF");
    EXPECT_EQ(wide.size(), 9u) << "characters beyond U+FFFF take a surrogate pair";
    EXPECT_EQ(Utf8FromWide(wide), utf8);
    EXPECT_EQ(WideFromUtf8(""), u"");
}

TEST(TextConvert, UnpairedSurrogatesSurviveTheRoundTrip) {
    const std::u16string names[] = {
        std::u16string{u'a', char16_t(0xD800), u'b'},        // high alone
        std::u16string{char16_t(0xDC00), u'x'},              // low first
        std::u16string{u'x', char16_t(0xDBFF)},              // high at the end
        std::u16string{char16_t(0xDC01), char16_t(0xD801)},  // reversed pair
    };
    for (const std::u16string& name : names) {
        std::string utf8 = Utf8FromWide(name);
        EXPECT_EQ(WideFromUtf8(utf8), name);
        EXPECT_EQ(utf8.find('\xEF'), std::string::npos) << "replaced instead of kept";
    }
    EXPECT_EQ(Utf8FromWide(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\xED\xA0\x80"
              "b");
}

TEST(TextConvert, MalformedUtf8BecomesOneReplacementPerBadByte) {
    EXPECT_EQ(WideFromUtf8("\xFF"
                           "a"),
              u"\uFFFDa");
    EXPECT_EQ(WideFromUtf8("\xC0\xAF"
                           "b"),
              u"\uFFFD\uFFFDb")
        << "overlong slash";
    EXPECT_EQ(WideFromUtf8("\xE2\x82"
                           "c"),
              u"\uFFFD\uFFFDc")
        << "cut short";
    EXPECT_EQ(WideFromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD") << "beyond U+10FFFF";
    EXPECT_EQ(WideFromUtf8("d\x80"), u"d\uFFFD") << "stray continuation";
}

TEST(TextConvert, AnsiCodePageCarriesAscii) {
    EXPECT_EQ(AnsiFromWide(u"C:\\mail\\in box\\*"), "C:\\mail\\in box\\*");
    EXPECT_EQ(WideFromAnsi("C:\\mail\\*.eml"), u"C:\\mail\\*.eml");
    EXPECT_EQ(AnsiFromWide(u""), "");
}

// Windows allows names that are not valid UTF-16 (Wine's file system refuses them, so the
// system calls are stood in for): a listed name must reopen the very same file.
const std::u16string kLoneSurrogateName{u'm', char16_t(0xD83D), u'.', u'e', u'm', u'l'};
std::u16string g_reopened;

HANDLE WINAPI FindLoneSurrogateName(LPCWSTR, LPWIN32_FIND_DATAW data) {
    *data = WIN32_FIND_DATAW{};
    kLoneSurrogateName.copy(reinterpret_cast<char16_t*>(data->cFileName), MAX_PATH);
    return reinterpret_cast<HANDLE>(intptr_t(0x4242));
}
BOOL WINAPI CloseFake(HANDLE) {
    return TRUE;
}
DWORD WINAPI RecordReopen(LPCWSTR path) {
    g_reopened = FromW(path);
    return FILE_ATTRIBUTE_ARCHIVE;
}

TEST(TextConvert, ListedNameWithALoneSurrogateReopensTheSameName) {
    FreshModule module;
    ModuleState().probeDone = true;
    ModuleState().UseWideApi = true;
    SystemApi().FindFirstFileW = FindLoneSurrogateName;
    SystemApi().FindClose = CloseFake;
    SystemApi().GetFileAttributesW = RecordReopen;

    FileFindRecord record;
    ASSERT_NE(FindFirstEntry("C:\\in\\*", record), kInvalidHandle);
    EXPECT_TRUE(CloseFind(record));
    EXPECT_TRUE(FileExists("C:\\in\\" + record.FileName));
    EXPECT_EQ(g_reopened, u"\\\\?\\C:\\in\\" + kLoneSurrogateName);
}

}  // namespace
}  // namespace fs::win32::testing
