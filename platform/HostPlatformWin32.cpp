#include "platform/HostPlatform.h"

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
