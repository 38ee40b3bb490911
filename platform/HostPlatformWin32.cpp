#include "platform/HostPlatform.h"

#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/WindowsCommandLine.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {

OsHandle createHostMutex()
{
    return ::CreateMutexA(nullptr, FALSE, nullptr);
}

void destroyHostMutex(OsHandle mutex)
{
    if (mutex != nullptr) {
        ::CloseHandle(mutex);
    }
}

namespace {

void (*stopCallback)() = nullptr;

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (stopCallback != nullptr) {
            stopCallback();
        }
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process when the handler returns: keep it
        // waiting (up to its own time limit) while the main thread stops the
        // devices and leaves.
        if (stopCallback != nullptr) {
            stopCallback();
        }
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void installStopHandler(void (*onStop)())
{
    stopCallback = onStop;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void endProcessNow(const char* message, int code)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), message, static_cast<DWORD>(std::strlen(message)), &written,
                nullptr);
    // TerminateProcess rather than ExitProcess: the device threads may be
    // inside a device library, whose detach must not run under them.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    for (;;) {
        ::Sleep(INFINITE);
    }
}

Presence serialPortPresence(const char* name)
{
    if (name == nullptr) {
        return Presence::Unknown;
    }
    std::string device = name;
    if (device.compare(0, 4, "\\\\.\\") == 0) {
        device.erase(0, 4);
    }
    const bool com = device.size() > 3 && ::_strnicmp(device.c_str(), "COM", 3) == 0 &&
                     device.find_first_not_of("0123456789", 3) == std::string::npos;
    if (!com) {
        return Presence::Unknown;
    }
    // A port that the system lists is there. One that it does not list may
    // still open: Wine lists only the ports it found at its start, not the
    // COM links made since, so a missing entry proves nothing.
    char target[1024];
    return ::QueryDosDeviceA(device.c_str(), target, sizeof target) != 0 ? Presence::Present : Presence::Unknown;
}

bool isTerminal(std::FILE* stream)
{
    if (stream == nullptr) {
        return false;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    // A console answers GetConsoleMode; a pipe or a file does not.
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool isLiveStream(std::FILE* stream)
{
    if (stream == nullptr) {
        return false;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = ::GetFileType(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

bool enableTerminalEscapes()
{
    const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || ::GetConsoleMode(handle, &mode) == 0) {
        return false;
    }
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::FILE* takeStandardOutput()
{
    std::fflush(stdout);
    const int data = ::_dup(::_fileno(stdout));
    if (data < 0) {
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(data, "w");
    if (stream == nullptr) {
        ::_close(data);
        return nullptr;
    }
    if (::_dup2(::_fileno(stderr), ::_fileno(stdout)) != 0) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

namespace {

// The folder part of a path, "." when it has none.
std::string folderOf(const std::string& path)
{
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return ".";
    }
    return path.substr(0, separator == 0 ? 1 : separator);
}

}  // namespace

std::string programFolder()
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return ".";
    }
    return folderOf(std::string(path, length));
}

namespace {

constexpr std::size_t kKeptErrors = 64 * 1024;

std::string errorText(DWORD code)
{
    char text[512];
    systemErrorText(code, text, sizeof text);
    return text;
}

// A handle of ours that a child may inherit; null where there is none.
HANDLE inheritable(HANDLE handle)
{
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                          DUPLICATE_SAME_ACCESS) == 0) {
        return nullptr;
    }
    return copy;
}

void closeIfOpen(HANDLE handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& arguments)
{
    ProgramRun run;
    const std::string line = windowsCommandLine(arguments);
    // CreateProcess takes at most 32767 characters, the terminating zero
    // included.
    if (arguments.empty() || line.size() >= 32767) {
        run.errors = errorText(ERROR_INVALID_PARAMETER);
        return run;
    }
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (::CreatePipe(&readEnd, &writeEnd, &inherit, 0) == 0) {
        run.errors = errorText(::GetLastError());
        return run;
    }
    // Only the child's end is inherited.
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = inheritable(::GetStdHandle(STD_INPUT_HANDLE));
    HANDLE output = inheritable(::GetStdHandle(STD_ERROR_HANDLE));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    // The command line must be writable. A program given with its folder is
    // started as it is named; a bare name is found by CreateProcess's search.
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    const bool named = arguments[0].find_first_of("\\/:") != std::string::npos;
    const BOOL created = ::CreateProcessA(named ? arguments[0].c_str() : nullptr, commandLine.data(), nullptr,
                                          nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    const DWORD failure = ::GetLastError();
    closeIfOpen(writeEnd);
    closeIfOpen(input);
    closeIfOpen(output);
    if (created == 0) {
        ::CloseHandle(readEnd);
        run.errors = errorText(failure);
        return run;
    }
    ::CloseHandle(process.hThread);
    run.started = true;
    char buffer[4096];
    DWORD got = 0;
    // Until the child (and whoever inherited the pipe from it) has closed it.
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
        run.errors.append(buffer, got);
        if (run.errors.size() > 2 * kKeptErrors) {
            run.errors.erase(0, run.errors.size() - kKeptErrors);
        }
    }
    ::CloseHandle(readEnd);
    if (run.errors.size() > kKeptErrors) {
        run.errors.erase(0, run.errors.size() - kKeptErrors);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    run.exitCode = ::GetExitCodeProcess(process.hProcess, &code) != 0 ? static_cast<int>(code) : -1;
    ::CloseHandle(process.hProcess);
    return run;
}

namespace {

// The volume and the file index of an existing file or folder.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    return known;
}

}  // namespace

bool sameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return fileIdentity(first, a) && fileIdentity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool isSpecialFile(const std::string& path)
{
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // A pipe or a character device (NUL, CON, a COM port); disk files and
    // folders are not.
    const DWORD type = ::GetFileType(file);
    ::CloseHandle(file);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

std::FILE* createFileBeside(const std::string& path, std::string& created, std::string& error)
{
    char name[MAX_PATH];
    // Makes the file, with a name of its own in that folder.
    if (::GetTempFileNameA(folderOf(path).c_str(), "vtr", 0, name) == 0) {
        error = errorText(::GetLastError());
        return nullptr;
    }
    std::FILE* stream = std::fopen(name, "wb");
    if (stream == nullptr) {
        error = errorText(::GetLastError());
        ::DeleteFileA(name);
        return nullptr;
    }
    created = name;
    return stream;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error)
{
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        error = errorText(::GetLastError());
        return false;
    }
    return true;
}

bool beginCapture(OutputCapture& capture, std::string& error)
{
    char folder[MAX_PATH + 1];
    char name[MAX_PATH];
    const DWORD length = ::GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH || ::GetTempFileNameA(folder, "vtc", 0, name) == 0) {
        error = errorText(::GetLastError());
        return false;
    }
    // Removed by the system when it is closed.
    const int file = ::_open(name, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY);
    if (file < 0) {
        error = errorText(::GetLastError());
        ::DeleteFileA(name);
        return false;
    }
    std::fflush(stdout);
    const int saved = ::_dup(::_fileno(stdout));
    if (saved < 0 || ::_dup2(file, ::_fileno(stdout)) != 0) {
        error = errorText(::GetLastError());
        if (saved >= 0) {
            ::_close(saved);
        }
        ::_close(file);
        return false;
    }
    capture.savedOutput = saved;
    capture.file = file;
    return true;
}

std::string endCapture(OutputCapture& capture)
{
    std::string text;
    if (capture.file < 0) {
        return text;
    }
    std::fflush(stdout);
    ::_dup2(capture.savedOutput, ::_fileno(stdout));
    ::_close(capture.savedOutput);
    ::_lseek(capture.file, 0, SEEK_SET);
    char buffer[4096];
    for (int got; (got = ::_read(capture.file, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::_close(capture.file);
    capture = OutputCapture();
    return text;
}

}  // namespace platform
