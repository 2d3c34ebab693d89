#include "fs/console.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace fs {
namespace {

// Atomic rather than volatile: the workers that convert mailboxes side by side read it from
// their own threads. A lock-free atomic may be used in a signal handler.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int number) {
    // The first request names the exit status; a second one of another kind changes nothing.
    int none = 0;
    interrupted.compare_exchange_strong(none, number);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

void CatchInterrupt() {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, OnInterrupt);
}

bool Interrupted() {
    return interrupted != 0;
}

int InterruptSignal() {
    return interrupted;
}

void EndProcessNow(int status) {
    std::_Exit(status);
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    return local;
}

}  // namespace fs
