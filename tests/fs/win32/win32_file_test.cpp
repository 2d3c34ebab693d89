// What the Windows file backend hands to the system, and how it reads the system's refusals.
#include <vector>

#include "fs/file.h"
#include "tests/fs/win32/win32_fixture.h"

namespace fs::win32::testing {
namespace {

using Kind = FileError::Kind;

std::vector<std::u16string> g_opened;

TEST(Win32File, CreateFileGetsTheLongPathFormOfTheFullPath) {
    FreshModule module;
    SystemApi().CreateFileW = [](LPCWSTR p, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) {
        g_opened.push_back(FromW(p));
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    };
    g_opened.clear();
    const std::string deep = "C:\\mail\\" + std::string(300, 'd') + "\\m\xC3\xAB.eml";
    const std::u16string deepWide = u"C:\\mail\\" + std::u16string(300, u'd') + u"\\m\u00EB.eml";
    for (const std::string& path : {deep, std::string("\\\\srv\\share\\in\\m.eml"),
                                    std::string("C:\\mail\\sub\\..\\in/m.eml")}) {
        try {
            File::Open(path, File::Mode::Read);
            ADD_FAILURE() << "opened " << path;
        } catch (const FileError& e) {
            EXPECT_EQ(e.GetKind(), Kind::NotFound);
        }
    }
    const std::vector<std::u16string> expected = {
        u"\\\\?\\" + deepWide,  // longer than MAX_PATH
        u"\\\\?\\UNC\\srv\\share\\in\\m.eml",
        u"\\\\?\\C:\\mail\\in\\m.eml",  // "\\?\" takes neither ".." nor '/'
    };
    EXPECT_EQ(g_opened, expected);
}

TEST(Win32File, AFileHeldUnsharedIsReportedLockedInTheSystemsWords) {
    TempTree tree;
    ASSERT_TRUE(tree.ok());
    const std::string path = tree.File("held.eml");
    // Another program holding the file without sharing it.
    HANDLE held = CreateFileW(W(LongPathForm(WideFromUtf8(path))), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        File::Open(path, File::Mode::ReadWrite);
        ADD_FAILURE() << "opened a file held without sharing";
    } catch (const FileError& e) {
        EXPECT_EQ(e.GetKind(), Kind::Locked);
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("system error", 0), std::string::npos) << "no text: " << text;
        EXPECT_NE(text.back(), '\n');
    }
    CloseHandle(held);
}

// Windows answers "access denied" for a folder and for a file marked read-only alike; the
// attributes tell them apart. (Wine run as root opens marked files, so the refusal is staged.)
TEST(Win32File, AccessDeniedIsToldApartByTheAttributes) {
    TempTree tree;
    ASSERT_TRUE(tree.ok());
    const std::string plain = tree.File("plain.eml");
    const std::string marked = tree.File("marked.eml", FILE_ATTRIBUTE_READONLY);
    std::string folder = tree.Folder("folder");
    folder.pop_back();  // its trailing separator
    FreshModule module;
    SystemApi().CreateFileW = [](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    };
    auto kindOf = [](const std::string& path, File::Mode mode) {
        try {
            File::Open(path, mode);
        } catch (const FileError& e) {
            return e.GetKind();
        }
        return Kind::Other;
    };
    EXPECT_EQ(kindOf(marked, File::Mode::ReadWrite), Kind::ReadOnly);
    EXPECT_EQ(kindOf(marked, File::Mode::Read), Kind::AccessDenied);
    EXPECT_EQ(kindOf(plain, File::Mode::Create), Kind::AccessDenied);
    EXPECT_EQ(kindOf(folder, File::Mode::Read), Kind::Folder);
}

}  // namespace
}  // namespace fs::win32::testing
