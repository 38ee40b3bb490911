#include "platform/HostPlatform.h"

#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

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

std::string programFolder()
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return ".";
    }
    std::string folder(path, length);
    const std::size_t separator = folder.find_last_of("\\/");
    return separator == std::string::npos ? std::string(".") : folder.substr(0, separator);
}

}  // namespace platform
