// Stands in for eml2pst.exe and eml2pst-wizard.exe in the packaging tests: it answers the
// installer test's calls and reports what the embedded resources did to the process.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The "conversion" writes the data file's magic, so a "verify" can tell it from any file.
constexpr char kMagic[] = "!BDN";

std::string ProductVersion() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD size = GetFileVersionInfoSizeW(self, nullptr);
    std::string block(size, '\0');
    if (size == 0 || !GetFileVersionInfoW(self, 0, size, block.data())) return "none";
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                        reinterpret_cast<void**>(&value), &length))
        return "none";
    char narrow[64] = {};
    WideCharToMultiByte(CP_UTF8, 0, value, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    return narrow;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("eml2pst %s\n", EML2PST_VERSION);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "convert") == 0) {
        DWORD attributes = GetFileAttributesA(argv[2]);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::fprintf(stderr, "no such folder: %s\n", argv[2]);
            return 1;
        }
        FILE* out = std::fopen(argv[3], "wb");
        if (!out) return 3;
        std::fwrite(kMagic, 1, 4, out);
        return std::fclose(out) == 0 ? 0 : 3;
    }
    if (argc == 3 && std::strcmp(argv[1], "verify") == 0) {
        char head[4] = {};
        FILE* in = std::fopen(argv[2], "rb");
        bool ok = in && std::fread(head, 1, 4, in) == 4 && std::memcmp(head, kMagic, 4) == 0;
        if (in) std::fclose(in);
        return ok ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "resources") == 0) {
        // The code page comes from the manifest's activeCodePage, the rest from the .rc.
        std::printf("acp=%u appicon=%s version=%s\n", GetACP(),
                    LoadIconA(GetModuleHandleA(nullptr), "appicon") ? "yes" : "no",
                    ProductVersion().c_str());
        return 0;
    }
    return 2;
}
