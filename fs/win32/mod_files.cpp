// Directory searches and attribute tests over kernel32's Find*File and GetFileAttributes calls.
// The wide calls get the long-path form of the UTF-16 path, the narrow ones the plain path in
// the ANSI code page; the probe decides once which of the two a process uses.
#include "fs/mod_files.h"

#include "fs/path_forms.h"
#include "fs/platform_probe.h"
#include "fs/text.h"
#include "fs/win32/text_convert.h"
#include "fs/win32/windows_api.h"

namespace fs {
namespace {

using win32::SystemApi;

void EnsureProbe() {
    if (!ModuleState().probeDone) ProbePlatform();
}

// The NUL-terminated long-path form, kept alive by the caller for the duration of the call.
std::u16string WideForm(const std::string& path) {
    return LongPathForm(win32::WideFromUtf8(path));
}
const wchar_t* AsWide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::string NarrowForm(const std::string& path) {
    return win32::AnsiFromWide(win32::WideFromUtf8(path));
}

void Load(FileFindRecord& record, const WIN32_FIND_DATAW& data) {
    std::u16string_view name(reinterpret_cast<const char16_t*>(data.cFileName), MAX_PATH);
    record.FileName = win32::Utf8FromWide(CutAtNul(name));
    record.Attributes = data.dwFileAttributes;
}

void Load(FileFindRecord& record, const WIN32_FIND_DATAA& data) {
    std::string_view name(data.cFileName, MAX_PATH);
    record.FileName = win32::Utf8FromWide(win32::WideFromAnsi(CutAtNul(name)));
    record.Attributes = data.dwFileAttributes;
}

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
intptr_t FromHandle(HANDLE h) {
    return reinterpret_cast<intptr_t>(h);
}

}  // namespace

intptr_t FindFirstEntry(const std::string& pattern, FileFindRecord& record) {
    record.SearchPattern = pattern;
    record.Error.clear();
    if (StartsWithNoCase(pattern, "ftp://")) {
        record.Found = kFalse;
        return kInvalidHandle;
    }
    EnsureProbe();

    HANDLE h = INVALID_HANDLE_VALUE;
    if (UseWideApi()) {
        WIN32_FIND_DATAW data{};
        std::u16string form = WideForm(pattern);
        h = SystemApi().FindFirstFileW(AsWide(form), &data);
        if (h != INVALID_HANDLE_VALUE) Load(record, data);
    } else {
        WIN32_FIND_DATAA data{};
        std::string form = NarrowForm(pattern);
        h = SystemApi().FindFirstFileA(form.c_str(), &data);
        if (h != INVALID_HANDLE_VALUE) Load(record, data);
    }
    if (h == INVALID_HANDLE_VALUE) {
        // No match is no failure: a drive's root lists no "." and may hold nothing.
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_NO_MORE_FILES)
            record.Error = win32::SystemText(code);
        record.Found = kFalse;
        record.FindHandle = kInvalidHandle;
        return kInvalidHandle;
    }
    record.Found = kTrue;
    record.FindHandle = FromHandle(h);
    return record.FindHandle;
}

bool FindNextEntry(FileFindRecord& record) {
    EnsureProbe();
    HANDLE h = AsHandle(record.FindHandle);
    bool loaded = false;
    // A record without an open search is a failing call, not one handed to the system.
    if (record.FindHandle != 0 && record.FindHandle != kInvalidHandle) {
        if (UseWideApi()) {
            WIN32_FIND_DATAW data{};
            loaded = SystemApi().FindNextFileW(h, &data) != FALSE;
            if (loaded) Load(record, data);
        } else {
            WIN32_FIND_DATAA data{};
            loaded = SystemApi().FindNextFileA(h, &data) != FALSE;
            if (loaded) Load(record, data);
        }
    }
    if (loaded) {
        record.Found = kTrue;
        return true;
    }
    record.Found = kFalse;
    CloseFind(record);
    record.FindHandle = 0;
    return false;
}

bool CloseFind(FileFindRecord& record) {
    bool ok = true;
    if (record.FindHandle != 0 && record.FindHandle != kInvalidHandle)
        ok = SystemApi().FindClose(AsHandle(record.FindHandle)) != FALSE;
    record.Found = kFalse;
    record.FindHandle = kInvalidHandle;
    return ok;
}

uint32_t GetPathAttributes(const std::string& path) {
    EnsureProbe();
    if (UseWideApi()) {
        std::u16string form = WideForm(path);
        return SystemApi().GetFileAttributesW(AsWide(form));
    }
    std::string form = NarrowForm(path);
    return SystemApi().GetFileAttributesA(form.c_str());
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    EnsureProbe();
    // No data access is asked for; backup semantics let the call open folders too.
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const win32::Api& api = SystemApi();
    HANDLE h = INVALID_HANDLE_VALUE;
    if (UseWideApi()) {
        std::u16string form = WideForm(path);
        h = api.CreateFileW(AsWide(form), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    } else {
        std::string form = NarrowForm(path);
        h = api.CreateFileA(form.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = api.GetFileInformationByHandle(h, &info) != FALSE;
    api.CloseHandle(h);
    if (!ok) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace fs
