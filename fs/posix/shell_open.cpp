#include "fs/shell_open.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace fs {

// The desktop's opener (xdg-open) takes the URL whole, anchor included. It ends at once when
// the desktop hands the URL on, or runs a browser in its place: an opener still running after
// a moment counts as opened, and a thread reaps it when it ends.
bool OpenWithSystem(const std::string& url) {
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    using namespace std::chrono;
    const auto until = steady_clock::now() + seconds(3);
    while (steady_clock::now() < until) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace fs
