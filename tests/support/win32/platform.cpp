#include "tests/support/platform.h"

#include <malloc.h>
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

#include "fs/utf8_path.h"

namespace testsupport {

void SetEnv(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) {
    _putenv_s(name.c_str(), "");
}

long PeakResidentKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return long(counters.PeakWorkingSetSize / 1024);
}

size_t MallocBlockSize(void* block) {
    return _msize(block);
}

CommandResult RunShellCommand(const std::string& command) {
    CommandResult result;
    // The output goes through a file, not a pipe: under Wine a program may start desktop or
    // service processes that inherit its handles and outlive it, and a pipe read to its end
    // would wait for them. cmd /c drops the first and the last quote of a line that starts with
    // one: an outer pair keeps the quoting of the command's own words. cmd applies redirections
    // from left to right, so a closing "2>&1" moves after the one to the file. Wide, so UTF-8
    // text survives.
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"cmd", 0, name))
        return result;
    std::string words = command;
    std::string errors;
    if (const std::string both = " 2>&1"; words.ends_with(both)) {
        words.resize(words.size() - both.size());
        errors = both;
    }
    const std::wstring line =
        fs::PathFromUtf8("\"" + words + " > \"" + fs::Utf8FromPath(name) + "\"" + errors + "\"")
            .wstring();
    result.status = _wsystem(line.c_str());
    if (FILE* out = _wfopen(name, L"rb")) {
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, out)) result.output.append(buffer, n);
        fclose(out);
    }
    DeleteFileW(name);
    return result;
}

std::string NoSuchFileText() {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length ? fs::Utf8FromPath(std::wstring(buffer, length)) : std::string();
    if (buffer) LocalFree(buffer);
    // The line end closing the system's text is left out where it is quoted.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool RunsLinuxPrograms() {
    return false;
}

std::string ShellQuote(const std::string& text) {
    // Double quotes are not allowed in Windows file names; a quote inside is not expected.
    return "\"" + text + "\"";
}

}  // namespace testsupport
