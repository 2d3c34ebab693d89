#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace e2e {

// Starts `program convert --quiet SOURCE TARGET` in a child with its output discarded, so that
// a test can signal or kill it; the caller waits for it.
inline pid_t StartConvert(const std::string& program, const std::string& source,
                          const std::string& target) {
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "convert", "--quiet", source.c_str(),
              target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

}  // namespace e2e
