#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace fs::win32 {

// Every system call of the backend goes through this table, so that tests can see the exact
// arguments a call gets and can stand in for calls whose failure a real system never shows.
// SystemApi() starts out with kernel32's own functions.
struct Api {
    HANDLE(WINAPI* FindFirstFileW)(LPCWSTR, LPWIN32_FIND_DATAW);
    HANDLE(WINAPI* FindFirstFileA)(LPCSTR, LPWIN32_FIND_DATAA);
    BOOL(WINAPI* FindNextFileW)(HANDLE, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindNextFileA)(HANDLE, LPWIN32_FIND_DATAA);
    BOOL(WINAPI* FindClose)(HANDLE);
    DWORD(WINAPI* GetFileAttributesW)(LPCWSTR);
    DWORD(WINAPI* GetFileAttributesA)(LPCSTR);

    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    DWORD(WINAPI* GetFullPathNameW)(LPCWSTR, DWORD, LPWSTR, LPWSTR*);
    HANDLE(WINAPI* ReOpenFile)(HANDLE, DWORD, DWORD, DWORD);
    DWORD(WINAPI* GetFileType)(HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* GetFileSizeEx)(HANDLE, PLARGE_INTEGER);
    BOOL(WINAPI* SetFilePointerEx)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
    BOOL(WINAPI* SetEndOfFile)(HANDLE);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* LockFileEx)(HANDLE, DWORD, DWORD, DWORD, DWORD, LPOVERLAPPED);
    BOOL(WINAPI* MoveFileExW)(LPCWSTR, LPCWSTR, DWORD);

    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    BOOL(WINAPI* GetVersionExW)(LPOSVERSIONINFOW);
    BOOL(WINAPI* GetVersionExA)(LPOSVERSIONINFOA);
    DWORD(WINAPI* GetVersion)();
};

Api& SystemApi();

// The table as the system provides it (what SystemApi() holds at start).
Api RealApi();

}  // namespace fs::win32
