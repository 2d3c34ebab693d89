#include "fs/win32/windows_api.h"

namespace fs::win32 {

Api RealApi() {
    Api api;
    api.FindFirstFileW = ::FindFirstFileW;
    api.FindFirstFileA = ::FindFirstFileA;
    api.FindNextFileW = ::FindNextFileW;
    api.FindNextFileA = ::FindNextFileA;
    api.FindClose = ::FindClose;
    api.GetFileAttributesW = ::GetFileAttributesW;
    api.GetFileAttributesA = ::GetFileAttributesA;
    api.CreateFileW = ::CreateFileW;
    api.CreateFileA = ::CreateFileA;
    api.GetFileInformationByHandle = ::GetFileInformationByHandle;
    api.CloseHandle = ::CloseHandle;
    api.GetFullPathNameW = ::GetFullPathNameW;
    api.ReOpenFile = ::ReOpenFile;
    api.GetFileType = ::GetFileType;
    api.ReadFile = ::ReadFile;
    api.WriteFile = ::WriteFile;
    api.GetFileSizeEx = ::GetFileSizeEx;
    api.SetFilePointerEx = ::SetFilePointerEx;
    api.SetEndOfFile = ::SetEndOfFile;
    api.FlushFileBuffers = ::FlushFileBuffers;
    api.LockFileEx = ::LockFileEx;
    api.MoveFileExW = ::MoveFileExW;
    api.LoadLibraryA = ::LoadLibraryA;
    api.GetProcAddress = ::GetProcAddress;
    api.FreeLibrary = ::FreeLibrary;
    api.GetVersionExW = ::GetVersionExW;
    api.GetVersionExA = ::GetVersionExA;
    api.GetVersion = ::GetVersion;
    return api;
}

Api& SystemApi() {
    static Api api = RealApi();
    return api;
}

}  // namespace fs::win32
