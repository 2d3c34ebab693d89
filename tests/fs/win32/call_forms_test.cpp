// The exact strings the system calls get. Wine takes paths of any length with or without the
// "\\?\" prefix, so only the recorded argument shows whether the long-path form was used.
#include <vector>

#include "fs/mod_files.h"
#include "tests/fs/win32/win32_fixture.h"

namespace fs::win32::testing {
namespace {

// Every path handed to a file call, tagged with the call, in order. All calls fail.
std::vector<std::u16string> g_calls;

class CallForms : public ::testing::Test {
  protected:
    FreshModule module_;
    void SetUp() override {
        g_calls.clear();
        Api& api = SystemApi();
        api.FindFirstFileW = [](LPCWSTR p, LPWIN32_FIND_DATAW) {
            g_calls.push_back(u"find " + FromW(p));
            return INVALID_HANDLE_VALUE;
        };
        api.GetFileAttributesW = [](LPCWSTR p) -> DWORD {
            g_calls.push_back(u"attr " + FromW(p));
            return INVALID_FILE_ATTRIBUTES;
        };
        api.CreateFileW = [](LPCWSTR p, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
            g_calls.push_back(u"open " + FromW(p));
            return INVALID_HANDLE_VALUE;
        };
        api.FindFirstFileA = [](LPCSTR p, LPWIN32_FIND_DATAA) {
            g_calls.push_back(u"findA " + WideFromAnsi(p));
            return INVALID_HANDLE_VALUE;
        };
        api.GetFileAttributesA = [](LPCSTR p) -> DWORD {
            g_calls.push_back(u"attrA " + WideFromAnsi(p));
            return INVALID_FILE_ATTRIBUTES;
        };
    }
    static void SelectCalls(bool wide) {
        ModuleState().probeDone = true;
        ModuleState().UseWideApi = wide;
    }
};

TEST_F(CallForms, WideCallsGetTheLongPathFormOfLocalAndUncPaths) {
    SelectCalls(true);
    FileFindRecord record;
    EXPECT_EQ(FindFirstEntry("C:\\mail\\*", record), kInvalidHandle);
    EXPECT_EQ(record.SearchPattern, "C:\\mail\\*") << "the record keeps the plain path";
    GetPathAttributes("C:\\mail\\in box\\m.eml");
    IdentityOf("D:\\x");
    FindFirstEntry("\\\\server\\share\\dir\\*", record);
    GetPathAttributes("\\\\server\\share\\dir");
    std::vector<std::u16string> expected = {
        u"find \\\\?\\C:\\mail\\*",
        u"attr \\\\?\\C:\\mail\\in box\\m.eml",
        u"open \\\\?\\D:\\x",
        u"find \\\\?\\UNC\\server\\share\\dir\\*",
        u"attr \\\\?\\UNC\\server\\share\\dir",
    };
    EXPECT_EQ(g_calls, expected);
}

TEST_F(CallForms, Utf8PathsReachTheWideCallsAsUtf16) {
    SelectCalls(true);
    FileFindRecord record;
    FindFirstEntry("C:\\Почта\\日本\\\xF0\x9F\x93\xA8\\*", record);
    EXPECT_EQ(g_calls, std::vector<std::u16string>{u"find \\\\?\\C:\\Почта\\日本\\\U0001F4E8\\*"});
}

TEST_F(CallForms, NarrowCallsGetThePlainPathWithoutPrefix) {
    SelectCalls(false);
    FileFindRecord record;
    FindFirstEntry("C:\\mail\\*", record);
    GetPathAttributes("\\\\server\\share\\m.eml");
    std::vector<std::u16string> expected = {u"findA C:\\mail\\*",
                                            u"attrA \\\\server\\share\\m.eml"};
    EXPECT_EQ(g_calls, expected);
}

TEST_F(CallForms, FolderExistsTestsTheUntrimmedPathThenSearchesTheTrimmedOne) {
    SelectCalls(true);
    EXPECT_FALSE(FolderExists(" C:\\in "));
    std::vector<std::u16string> expected = {
        u"attr \\\\?\\ C:\\in ",
        u"find \\\\?\\C:\\in\\*.*",
        u"attr \\\\?\\C:\\in\\nul",
        u"find \\\\?\\C:\\in\\nul",
    };
    EXPECT_EQ(g_calls, expected);
}

}  // namespace
}  // namespace fs::win32::testing
