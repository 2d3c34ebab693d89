// The one-time probe and the choice between wide and narrow calls, with the version queries
// replaced where a real system would never fail them.
#include <algorithm>
#include <string>
#include <vector>

#include "fs/mod_files.h"
#include "tests/fs/win32/win32_fixture.h"

namespace fs::win32::testing {
namespace {

// What the substituted calls saw, in call order.
std::vector<std::string> g_log;
std::vector<DWORD> g_sizes;  // size fields the version queries were given
std::vector<std::string> g_narrowPaths;
int g_wideFileCalls = 0;
DWORD g_platformId = VER_PLATFORM_WIN32_NT;
DWORD g_getVersion = 0;

template <typename Info>
BOOL VersionQuery(const char* name, Info* info, bool ok) {
    g_log.push_back(name);
    g_sizes.push_back(info->dwOSVersionInfoSize);
    info->dwPlatformId = g_platformId;
    return ok;
}
BOOL WINAPI FailingW(LPOSVERSIONINFOW i) {
    return VersionQuery("GetVersionExW", i, false);
}
BOOL WINAPI WorkingW(LPOSVERSIONINFOW i) {
    return VersionQuery("GetVersionExW", i, true);
}
BOOL WINAPI FailingA(LPOSVERSIONINFOA i) {
    return VersionQuery("GetVersionExA", i, false);
}
BOOL WINAPI WorkingA(LPOSVERSIONINFOA i) {
    return VersionQuery("GetVersionExA", i, true);
}
DWORD WINAPI FakeGetVersion() {
    g_log.push_back("GetVersion");
    return g_getVersion;
}
FARPROC WINAPI NoVersionExports(HMODULE module, LPCSTR name) {
    g_log.push_back(std::string("GetProcAddress ") + name);
    return std::string(name).starts_with("GetVersionEx") ? nullptr : ::GetProcAddress(module, name);
}

std::vector<std::string> VersionQueries() {
    std::vector<std::string> out;
    std::copy_if(g_log.begin(), g_log.end(), std::back_inserter(out),
                 [](const std::string& n) { return n.starts_with("GetVersion"); });
    return out;
}

// Every substituted call logs itself and, unless a test replaces it again, does the real work.
class Probe : public ::testing::Test {
  protected:
    FreshModule module_;
    void SetUp() override {
        g_log.clear();
        g_sizes.clear();
        g_narrowPaths.clear();
        g_wideFileCalls = 0;
        g_platformId = VER_PLATFORM_WIN32_NT;
        g_getVersion = 0;
        Api& api = SystemApi();
        api.LoadLibraryA = [](LPCSTR name) {
            g_log.push_back(std::string("LoadLibraryA ") + name);
            return ::LoadLibraryA(name);
        };
        api.GetProcAddress = [](HMODULE module, LPCSTR name) {
            g_log.push_back(std::string("GetProcAddress ") + name);
            return ::GetProcAddress(module, name);
        };
        api.FreeLibrary = [](HMODULE module) {
            g_log.push_back("FreeLibrary");
            return ::FreeLibrary(module);
        };
        api.FindFirstFileW = [](LPCWSTR p, LPWIN32_FIND_DATAW d) {
            ++g_wideFileCalls;
            return ::FindFirstFileW(p, d);
        };
        api.FindNextFileW = [](HANDLE h, LPWIN32_FIND_DATAW d) {
            ++g_wideFileCalls;
            return ::FindNextFileW(h, d);
        };
        api.GetFileAttributesW = [](LPCWSTR p) {
            ++g_wideFileCalls;
            return ::GetFileAttributesW(p);
        };
        api.FindFirstFileA = [](LPCSTR p, LPWIN32_FIND_DATAA d) {
            g_narrowPaths.push_back(p);
            return ::FindFirstFileA(p, d);
        };
        api.FindNextFileA = [](HANDLE h, LPWIN32_FIND_DATAA d) {
            g_narrowPaths.push_back("next");
            return ::FindNextFileA(h, d);
        };
        api.GetFileAttributesA = [](LPCSTR p) {
            g_narrowPaths.push_back(p);
            return ::GetFileAttributesA(p);
        };
    }
};

TEST_F(Probe, RealSystemIsOfTheNtFamilyAndKernel32IsReleased) {
    ProbePlatform();
    const ProbeState& s = ModuleState();
    EXPECT_TRUE(s.probeDone);
    EXPECT_TRUE(s.UseWideApi);
    EXPECT_TRUE(s.hasGetVersionExW);
    EXPECT_TRUE(s.hasGetVersionExA);
    std::vector<std::string> expected = {"LoadLibraryA kernel32", "GetProcAddress GetVersionExA",
                                         "GetProcAddress GetVersionExW", "FreeLibrary"};
    EXPECT_EQ(g_log, expected);
}

TEST_F(Probe, RunsOnceOnTheFirstOperationThatChoosesCalls) {
    TempTree tree;
    ASSERT_TRUE(tree.ok());
    FileFindRecord record;
    ASSERT_NE(FindFirstEntry(tree.path() + "*", record), kInvalidHandle);
    while (FindNextEntry(record)) {
    }
    GetPathAttributes(tree.path());
    EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "LoadLibraryA kernel32"), 1);
    EXPECT_EQ(g_wideFileCalls, 4);  // first, next (".."), next (end), attributes
    EXPECT_TRUE(g_narrowPaths.empty());
}

TEST_F(Probe, FailingVersionQueriesFallBackInOrder) {
    SystemApi().GetVersionExW = FailingW;
    SystemApi().GetVersionExA = WorkingA;
    SystemApi().GetVersion = FakeGetVersion;
    ProbePlatform();
    EXPECT_EQ(VersionQueries(), (std::vector<std::string>{"GetVersionExW", "GetVersionExA"}));
    EXPECT_EQ(g_sizes, (std::vector<DWORD>{276, 148}));
    EXPECT_FALSE(ModuleState().hasGetVersionExW);
    EXPECT_TRUE(ModuleState().hasGetVersionExA);
    EXPECT_TRUE(ModuleState().UseWideApi);

    // Both failing: GetVersion decides, bit 31 clear meaning the NT family.
    ModuleState() = ProbeState{};
    g_log.clear();
    SystemApi().GetVersionExA = FailingA;
    g_getVersion = 0x0A280105;
    ProbePlatform();
    EXPECT_EQ(VersionQueries(),
              (std::vector<std::string>{"GetVersionExW", "GetVersionExA", "GetVersion"}));
    EXPECT_TRUE(ModuleState().UseWideApi);
}

TEST_F(Probe, PlatformOtherThanNtKeepsTheNarrowCalls) {
    SystemApi().GetVersionExW = WorkingW;
    g_platformId = VER_PLATFORM_WIN32_WINDOWS;
    ProbePlatform();
    EXPECT_TRUE(ModuleState().probeDone);
    EXPECT_FALSE(ModuleState().UseWideApi);
}

TEST_F(Probe, OnlyGetVersionWithBit31SetSelectsTheNarrowCalls) {
    SystemApi().GetProcAddress = NoVersionExports;
    SystemApi().GetVersionExW = FailingW;
    SystemApi().GetVersionExA = FailingA;
    SystemApi().GetVersion = FakeGetVersion;
    g_getVersion = 0xC0000A04;
    TempTree tree;
    ASSERT_TRUE(tree.ok());
    tree.File("one.eml");
    tree.File("two.eml");

    FileFindRecord record;
    std::vector<std::string> names;
    ASSERT_NE(FindFirstEntry(tree.path() + "*.eml", record), kInvalidHandle);
    do {
        names.push_back(record.FileName);
    } while (FindNextEntry(record));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.eml", "two.eml"}));
    EXPECT_NE(GetPathAttributes(tree.path() + "one.eml"), kInvalidAttributes);

    EXPECT_FALSE(ModuleState().UseWideApi);
    EXPECT_EQ(VersionQueries(), std::vector<std::string>{"GetVersion"});
    EXPECT_EQ(g_wideFileCalls, 0);
    std::vector<std::string> narrow = {tree.path() + "*.eml", "next", "next",
                                       tree.path() + "one.eml"};
    EXPECT_EQ(g_narrowPaths, narrow) << "narrow calls get the plain path, no prefix";
}

TEST_F(Probe, Kernel32ThatCannotBeLoadedLeavesTheNarrowCalls) {
    SystemApi().LoadLibraryA = [](LPCSTR name) -> HMODULE {
        g_log.push_back(std::string("LoadLibraryA ") + name);
        return nullptr;
    };
    EXPECT_EQ(GetPathAttributes("C:\\"), ::GetFileAttributesA("C:\\"));
    EXPECT_TRUE(ModuleState().probeDone);
    EXPECT_FALSE(ModuleState().UseWideApi);
    EXPECT_EQ(g_log, std::vector<std::string>{"LoadLibraryA kernel32"});
    EXPECT_EQ(g_narrowPaths, std::vector<std::string>{"C:\\"});
}

}  // namespace
}  // namespace fs::win32::testing
