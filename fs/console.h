#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// What a console program asks of the platform: its arguments as UTF-8, a terminal that shows
// UTF-8, Ctrl-C as a request to stop, local time.
namespace fs {

// The program's arguments (without the program name) as UTF-8, whatever code page the system
// uses for narrow arguments.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes UTF-8 written to the standard streams show as text on a console.
void UseUtf8Console();

// Whether the stream is an interactive console or terminal (not a file, pipe or null device).
bool IsTerminal(std::FILE* stream);

// From now on Ctrl-C, and the requests to end that a service manager or a closing terminal
// send (SIGTERM, SIGHUP; on Windows Ctrl-Break, closing the console window, logging off and
// shutting down), only set a flag that Interrupted() reports; the program stops in its own
// time and keeps its work. On Windows, closing the console waits for the program to end (the
// system allows a few seconds) rather than killing it at once.
void CatchInterrupt();
bool Interrupted();
// The signal that asked to stop, by its POSIX number (2 for Ctrl-C, 15 SIGTERM, 1 SIGHUP; on
// Windows closing the console counts as 1, logging off and shutting down as 15); 0 before any.
int InterruptSignal();

std::tm LocalTime(std::time_t when);

// Ends the process at once with `status`: no exit handlers, no destructors, no waiting for
// other threads or libraries (on Windows, ExitProcess can wait for ever on a library's
// detach routine; under Wine the wizard never ended).
[[noreturn]] void EndProcessNow(int status);

}  // namespace fs
