// Regular files over kernel32 handles: ReadFile/WriteFile at explicit offsets, LockFileEx,
// FlushFileBuffers, and FILE_FLAG_NO_BUFFERING for unbuffered writes. Paths reach CreateFileW
// in the long-path form, so their length is not limited to MAX_PATH.
#include "fs/file.h"

#include <fcntl.h>
#include <io.h>
#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "fs/path_forms.h"
#include "fs/win32/text_convert.h"
#include "fs/win32/windows_api.h"

namespace fs {
namespace {

using Kind = FileError::Kind;
using win32::SystemApi;
using win32::SystemText;

// Other openers may read and write (the lock, not the share mode, keeps writers apart); the
// unbuffered second handle of a writer needs the write share too.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The lock is taken on one byte far past any data: Windows locks are enforced on reads and
// writes, even those of the locking process's other handles.
constexpr uint64_t kLockByte = uint64_t{1} << 62;

// ReadFile and WriteFile take 32-bit counts.
constexpr size_t kMaxTransfer = size_t{1} << 30;

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

FileError ErrorFrom(DWORD code) {
    Kind kind = Kind::Other;
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            kind = Kind::NotFound;
            break;
        case ERROR_ACCESS_DENIED:
            kind = Kind::AccessDenied;
            break;
        case ERROR_WRITE_PROTECT:
            kind = Kind::ReadOnly;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            kind = Kind::Locked;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            kind = Kind::DiskFull;
            break;
        case ERROR_FILENAME_EXCED_RANGE:
            kind = Kind::PathTooLong;
            break;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            kind = Kind::BadName;
            break;
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
            kind = Kind::Unsupported;
            break;
        default:
            break;
    }
    return FileError(kind, SystemText(code));
}

[[noreturn]] void ThrowLastError() {
    throw ErrorFrom(GetLastError());
}

const wchar_t* AsWide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = DWORD(offset);
    o.OffsetHigh = DWORD(offset >> 32);
    return o;
}

bool IsDriveAbsolute(std::u16string_view p) {
    return p.size() >= 3 && ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z')) &&
           p[1] == u':' && p[2] == u'\\';
}

bool HasDotComponent(std::u16string_view p) {
    for (std::u16string_view dots : {u"\\.\\", u"\\..\\"}) {
        if (p.find(dots) != std::u16string_view::npos) return true;
    }
    return p.ends_with(u"\\.") || p.ends_with(u"\\..");
}

// The string CreateFileW gets: the long-path form of the full path. A path that is already
// absolute and plain goes as it is (names ending in dots or blanks stay as the listing found
// them); any other is made whole by the system first, since the long-path form takes neither
// relative parts nor '/'.
std::u16string CallForm(const std::string& utf8Path) {
    std::u16string wide = win32::WideFromUtf8(utf8Path);
    if (wide.starts_with(u"\\\\?\\")) return wide + u'\0';
    const bool unc = wide.starts_with(u"\\\\") && !wide.starts_with(u"\\\\.\\");
    if ((IsDriveAbsolute(wide) || unc) && wide.find(u'/') == std::u16string::npos &&
        !HasDotComponent(wide))
        return LongPathForm(wide);
    const auto& getFull = SystemApi().GetFullPathNameW;
    std::u16string full(wide.size() + MAX_PATH, u'\0');
    DWORD length =
        getFull(AsWide(wide), DWORD(full.size()), reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = getFull(AsWide(wide), DWORD(full.size()), reinterpret_cast<wchar_t*>(full.data()),
                         nullptr);
    }
    if (length == 0 || length >= full.size()) ThrowLastError();
    full.resize(length);
    return LongPathForm(full);
}

BY_HANDLE_FILE_INFORMATION InfoOf(intptr_t handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!SystemApi().GetFileInformationByHandle(AsHandle(handle), &info)) ThrowLastError();
    return info;
}

File::Status StatusFrom(const BY_HANDLE_FILE_INFORMATION& info) {
    const FILETIME t = info.ftLastWriteTime;
    const int64_t ticks = int64_t((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return {(uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
            (ticks - kUnixEpochAsFileTime) / 10000000};
}

}  // namespace

File File::Open(const std::string& utf8Path, Mode mode, Status* status) {
    const win32::Api& api = SystemApi();
    const std::u16string form = CallForm(utf8Path);
    const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == Mode::Create ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE h = api.CreateFileW(AsWide(form), access, kShare, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder, and a file marked read-only opened for writing, are refused as denied.
        if (code == ERROR_ACCESS_DENIED) {
            const DWORD attributes = api.GetFileAttributesW(AsWide(form));
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    throw FileError(Kind::Folder, "it is a folder");
                if (mode != Mode::Read && (attributes & FILE_ATTRIBUTE_READONLY))
                    throw FileError(Kind::ReadOnly, SystemText(code));
            }
        }
        throw ErrorFrom(code);
    }
    File file(reinterpret_cast<intptr_t>(h), utf8Path);
    if (api.GetFileType(h) != FILE_TYPE_DISK)
        throw FileError(Kind::NotRegularFile, "it is not a regular file");
    const BY_HANDLE_FILE_INFORMATION info = InfoOf(file.handle_);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        throw FileError(Kind::Folder, "it is a folder");
    if (status) *status = StatusFrom(info);
    return file;
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

File::~File() {
    Close();
}

bool File::IsOpen() const {
    return handle_ != -1;
}

void File::Close() noexcept {
    if (handle_ == -1) return;
    SystemApi().CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

std::optional<File> File::ReopenUnbuffered() const {
    const win32::Api& api = SystemApi();
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    HANDLE h = api.ReOpenFile(AsHandle(handle_), access, kShare, FILE_FLAG_NO_BUFFERING);
    if (h == INVALID_HANDLE_VALUE) {
        try {
            const std::u16string form = CallForm(path_);
            h = api.CreateFileW(AsWide(form), access, kShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_NO_BUFFERING, nullptr);
        } catch (const FileError&) {
            return std::nullopt;
        }
    }
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    return File(reinterpret_cast<intptr_t>(h), path_);
}

size_t File::ReadAt(uint64_t offset, void* out, size_t n) const {
    auto* to = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = At(offset + done);
        DWORD got = 0;
        if (!SystemApi().ReadFile(AsHandle(handle_), to + done,
                                  DWORD(std::min(n - done, kMaxTransfer)), &got, &at)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;
            throw ErrorFrom(code);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void File::WriteAt(uint64_t offset, const void* data, size_t n) {
    const auto* from = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = At(offset + done);
        DWORD put = 0;
        if (!SystemApi().WriteFile(AsHandle(handle_), from + done,
                                   DWORD(std::min(n - done, kMaxTransfer)), &put, &at))
            ThrowLastError();
        if (put == 0) throw ErrorFrom(ERROR_DISK_FULL);  // nothing taken: retrying would spin
        done += put;
    }
}

uint64_t File::Size() const {
    LARGE_INTEGER size{};
    if (!SystemApi().GetFileSizeEx(AsHandle(handle_), &size)) ThrowLastError();
    return uint64_t(size.QuadPart);
}

int64_t File::ModifiedTime() const {
    return StatusFrom(InfoOf(handle_)).modified;
}

bool File::HasWritePermission() const {
    return (InfoOf(handle_).dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

void File::Truncate(uint64_t size) {
    const win32::Api& api = SystemApi();
    LARGE_INTEGER to{};
    to.QuadPart = LONGLONG(size);
    // The file position matters to nothing else: every read and write names its offset.
    if (!api.SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN) ||
        !api.SetEndOfFile(AsHandle(handle_)))
        ThrowLastError();
}

void File::SyncData() {
    if (!SystemApi().FlushFileBuffers(AsHandle(handle_))) ThrowLastError();
}

bool File::TryLock(bool exclusive) {
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    OVERLAPPED at = At(kLockByte);
    if (SystemApi().LockFileEx(AsHandle(handle_), flags, 0, 1, 0, &at)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION) return false;
    throw ErrorFrom(code);
}

void File::StartWriteback(uint64_t, uint64_t) noexcept {
    // Windows has no such hint; its lazy writer starts on its own.
}

int File::TakeCrtDescriptor() {
    const int fd = _open_osfhandle(handle_, _O_RDONLY | _O_BINARY);
    if (fd == -1) throw FileError(Kind::Other, std::strerror(errno));
    handle_ = -1;  // the descriptor owns the handle now
    return fd;
}

bool RenameFile(const std::string& from, const std::string& to, bool replace) {
    const std::u16string source = CallForm(from);
    const std::u16string target = CallForm(to);
    if (SystemApi().MoveFileExW(AsWide(source), AsWide(target),
                                replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return true;
    const DWORD code = GetLastError();
    if (!replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)) return false;
    throw ErrorFrom(code);
}

void* AlignedAlloc(size_t align, size_t size) {
    void* p = _aligned_malloc(size, align);
    if (!p) throw std::bad_alloc();
    return p;
}

void AlignedFree(void* p) noexcept {
    _aligned_free(p);
}

}  // namespace fs
