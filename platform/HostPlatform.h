#pragma once
// What a host program needs of the operating system beyond the module's own
// interface (Platform.h): the mutex that guards a shared storage, stop
// requests from the user or the system, the terminal, the standard streams
// and where the program lives. Host programs link this; the module does not.
#include <cstdio>
#include <string>
#include <vector>

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
// POSIX neither a closed pipe nor the file size limit ends the process any
// more (writes fail instead).
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
// Whether another program reads the stream as it comes: a pipe, a socket, a
// terminal or another character device; not a file on a disk.
bool isLiveStream(std::FILE* stream);

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

// What became of a program that runProgram started.
struct ProgramRun {
    bool started = false;  // false: it could not be started; errors says why
    int exitCode = -1;     // its exit status; -1 when it did not end by itself
    std::string errors;    // what it wrote on its standard error (the last 64 KiB)
};

// Starts a program without a shell and waits for its end. arguments[0] is the
// program: a path, or (POSIX) a name that the search path finds; every entry
// reaches it as one argument, exactly as given (on Windows through a command
// line quoted by windowsCommandLine). It gets this process's standard input,
// its standard output goes to this process's standard error, and its standard
// error is collected.
ProgramRun runProgram(const std::vector<std::string>& arguments);

// Whether two paths name one existing file, whatever the names: the same
// device and inode (POSIX), the same volume and file index (Windows).
bool sameFile(const std::string& first, const std::string& second);

// Whether path names something that exists and is not a regular file (a
// pipe, a terminal, a device): such a file is written in place.
bool isSpecialFile(const std::string& path);

// A new file of this program's own in the folder of path (mkstemp: mode
// 0600; Windows: GetTempFileName), open for writing. Null with the reason;
// otherwise created holds its name.
std::FILE* createFileBeside(const std::string& path, std::string& created, std::string& error);

// Puts the file from in the place of to in one step, replacing a file that
// is there (rename; MoveFileEx). False with the system's reason.
bool replaceFile(const std::string& from, const std::string& to, std::string& error);

// Standard output taken aside: from beginCapture on, what the process writes
// there (the module's log included) goes into a temporary file of its own;
// endCapture puts standard output back and returns what was written.
struct OutputCapture {
    int savedOutput = -1;  // the descriptor of the real standard output
    int file = -1;         // the temporary file
};
bool beginCapture(OutputCapture& capture, std::string& error);
std::string endCapture(OutputCapture& capture);

}  // namespace platform
