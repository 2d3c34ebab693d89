#include "fs/platform_probe.h"
#include "fs/win32/windows_api.h"

namespace fs {
namespace {

// The sizes the version queries are called with: those of the records they fill.
constexpr DWORD kVersionInfoWSize = 276;
constexpr DWORD kVersionInfoASize = 148;
static_assert(sizeof(OSVERSIONINFOW) == kVersionInfoWSize);
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoASize);

constexpr DWORD kGetVersionNotNtBit = 0x80000000u;

}  // namespace

ProbeState& ModuleState() {
    static ProbeState state;
    return state;
}

bool UseWideApi() {
    return ModuleState().UseWideApi;
}

bool DetectOSVersion() {
    ProbeState& s = ModuleState();
    const win32::Api& api = win32::SystemApi();
    // Each failing query is dropped for good and the next one in line is asked.
    if (s.hasGetVersionExW) {
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = kVersionInfoWSize;
        if (api.GetVersionExW(&info)) return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        s.hasGetVersionExW = false;
        return DetectOSVersion();
    }
    if (s.hasGetVersionExA) {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = kVersionInfoASize;
        if (api.GetVersionExA(&info)) return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        s.hasGetVersionExA = false;
        return DetectOSVersion();
    }
    return (api.GetVersion() & kGetVersionNotNtBit) == 0;
}

void ProbePlatform() {
    ProbeState& s = ModuleState();
    s.probeDone = true;  // first, so that nothing below can make it run twice
    const win32::Api& api = win32::SystemApi();
    HMODULE kernel = api.LoadLibraryA("kernel32");
    if (kernel == nullptr) return;
    s.hasGetVersionExA = api.GetProcAddress(kernel, "GetVersionExA") != nullptr;
    s.hasGetVersionExW = api.GetProcAddress(kernel, "GetVersionExW") != nullptr;
    bool nt = DetectOSVersion();
    api.FreeLibrary(kernel);
    if (nt) s.UseWideApi = true;
}

}  // namespace fs
