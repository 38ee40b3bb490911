#pragma once
// What a host program needs of the operating system beyond the module's own
// interface (Platform.h): the mutex that guards a shared storage, stop
// requests from the user or the system, the terminal, the standard streams
// and where the program lives. Host programs link this; the module does not.
#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace platform {

// A mutex as the module expects of a host: Windows, CreateMutexA (unnamed,
// not owned); POSIX, a recursive and robust pthread_mutex_t. Null on failure.
OsHandle createHostMutex();
void destroyHostMutex(OsHandle mutex);

// Calls onStop once for every stop request: Ctrl-C and SIGTERM (POSIX, also
// SIGHUP), or a console control event (Ctrl-C, Ctrl-Break, closing the
// console, log-off, shut-down) on Windows. onStop runs in a signal handler or
// on a thread of the system's: it may only store to a lock-free atomic. On
// POSIX a closed pipe no longer ends the process (writes fail instead).
void installStopHandler(void (*onStop)());

// Writes message to standard error and ends the process at once with the
// exit code: no destructor, no handler, nothing else runs first. Safe in a
// signal handler and on any thread.
[[noreturn]] void endProcessNow(const char* message, int code);

// Whether a serial port's name leads to a port now, as far as the system
// tells without opening it. POSIX: the path exists (through its links), or
// Absent. Windows: Present when the system lists the DOS device of a COMn
// name (also \\.\COMn); Unknown otherwise, never Absent.
enum class Presence { Present, Absent, Unknown };
Presence serialPortPresence(const char* name);

// Whether the stream is a terminal (console).
bool isTerminal(std::FILE* stream);

// Lets the terminal behind standard output interpret the escape sequences
// that move the cursor and clear lines. False when it cannot.
bool enableTerminalEscapes();

// Keeps the standard output for the caller's data and sends everything else
// that the process writes to standard output (the module's log) to standard
// error. Returns a stream on the original standard output, null on failure
// (then nothing changed).
std::FILE* takeStandardOutput();

// The folder that holds the running program, without a trailing separator.
std::string programFolder();

}  // namespace platform
