#include "platform/Platform.h"

#include <cstring>
#include <sys/timeb.h>
#include <time.h>
#include <windows.h>

namespace platform {

std::uint32_t currentThreadId()
{
    return static_cast<std::uint32_t>(::GetCurrentThreadId());
}

void sleepMs(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

bool localTime(std::time_t t, std::tm& out)
{
    return ::localtime_s(&out, &t) == 0;
}

void currentTime(std::uint32_t& seconds, std::uint16_t& milliseconds)
{
    __timeb32 now{};
    ::_ftime32_s(&now);
    seconds = static_cast<std::uint32_t>(now.time);
    milliseconds = now.millitm;
}

void timeZone(std::uint32_t, std::int16_t& minutesWest, std::int16_t& daylight)
{
    __timeb32 now{};
    ::_ftime32_s(&now);
    minutesWest = now.timezone;
    daylight = now.dstflag;
}

std::uint32_t lastErrorCode()
{
    return static_cast<std::uint32_t>(::GetLastError());
}

std::size_t systemErrorText(std::uint32_t code, char* buffer, std::size_t size, TextLanguage language)
{
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const DWORD languageId = language == TextLanguage::UserDefault
                                 ? LANG_USER_DEFAULT
                                 : MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    char* message = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, languageId, reinterpret_cast<LPSTR>(&message), 0, nullptr);
    std::size_t copied = 0;
    if (length > 0 && message != nullptr) {
        copied = length < size ? length : size - 1;
        std::memcpy(buffer, message, copied);
    }
    if (message != nullptr) {
        ::LocalFree(message);
    }
    // System texts end in CR LF; the caller writes its own line end.
    while (copied > 0 && (buffer[copied - 1] == '\n' || buffer[copied - 1] == '\r' || buffer[copied - 1] == ' ')) {
        --copied;
    }
    buffer[copied] = '\0';
    return copied;
}

LockResult lockMutex(OsHandle mutex, std::uint32_t& errorCode)
{
    const DWORD result = ::WaitForSingleObject(mutex, INFINITE);
    if (result == WAIT_OBJECT_0) {
        errorCode = 0;
        return LockResult::Acquired;
    }
    if (result == WAIT_ABANDONED) {
        // The last error is not set for an abandoned wait; name the condition.
        errorCode = ERROR_ABANDONED_WAIT_0;
        return LockResult::Abandoned;
    }
    errorCode = static_cast<std::uint32_t>(::GetLastError());
    return LockResult::Failed;
}

bool unlockMutex(OsHandle mutex, std::uint32_t& errorCode)
{
    if (::ReleaseMutex(mutex) != 0) {
        errorCode = 0;
        return true;
    }
    errorCode = static_cast<std::uint32_t>(::GetLastError());
    return false;
}

}  // namespace platform
