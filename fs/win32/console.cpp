#include "fs/console.h"

#include <io.h>

#include <atomic>
#include <cstdlib>

#include "fs/win32/text_convert.h"
#include "fs/win32/windows_api.h"

// shellapi.h needs the declarations windows.h leaves out in lean mode.
#include <shellapi.h>

namespace fs {
namespace {

// The POSIX number of the signal the event stands for; 0 before any.
std::atomic<int> interrupted{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    constexpr int kSigHup = 1, kSigInt = 2, kSigTerm = 15;
    const int number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? kSigInt
                       : event == CTRL_CLOSE_EVENT                        ? kSigHup
                                                                          : kSigTerm;
    int none = 0;
    interrupted.compare_exchange_strong(none, number);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the window, logging off, shutting down: the process ends when this handler
    // returns, so wait here while the program stops and commits; the system ends the wait
    // after its own time-out.
    ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(win32::Utf8FromWide(reinterpret_cast<const char16_t*>(wide[i])));
    ::LocalFree(wide);
    return args;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

bool IsTerminal(std::FILE* stream) {
    // The null device passes _isatty; only a real console has a console mode.
    DWORD mode = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

void CatchInterrupt() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
    return interrupted != 0;
}

int InterruptSignal() {
    return interrupted;
}

void EndProcessNow(int status) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);  // not reached
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    ::localtime_s(&local, &when);
    return local;
}

}  // namespace fs
