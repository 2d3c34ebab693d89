#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// What the tests need of the operating system beyond the standard library, with one
// implementation per platform (support/posix, support/win32).
namespace testsupport {

// Changes the environment of this process, as std::getenv sees it. On Windows an empty value
// removes the variable.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// The most memory this process has held resident so far, in KiB.
long PeakResidentKb();

// The bytes a block from std::malloc really occupies.
size_t MallocBlockSize(void* block);

struct CommandResult {
    int status = -1;     // the exit status, or -1 when the command did not exit normally
    std::string output;  // what it wrote to its standard output
};

// Runs a UTF-8 command line through the platform's command interpreter (sh or cmd).
CommandResult RunShellCommand(const std::string& command);

// The system's own words for a file that does not exist, as error texts quote them.
std::string NoSuchFileText();

// Whether the tests can start the Linux programs the PST readers are (python3 with pypff,
// readpst, pffexport). Under Wine the shared folder is visible but those programs cannot run.
bool RunsLinuxPrograms();

// `text` as one argument of such a command line.
std::string ShellQuote(const std::string& text);

// Sets a file's modification time to `unixSeconds`.
inline void SetModificationTime(const std::filesystem::path& path, int64_t unixSeconds) {
    const std::chrono::sys_seconds at{std::chrono::seconds(unixSeconds)};
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(at));
}

}  // namespace testsupport
