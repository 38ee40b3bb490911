#include "platform/Platform.h"

#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {

std::uint32_t currentThreadId()
{
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

void sleepMs(std::uint32_t milliseconds)
{
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

bool localTime(std::time_t t, std::tm& out)
{
    return ::localtime_r(&t, &out) != nullptr;
}

void currentTime(std::uint32_t& seconds, std::uint16_t& milliseconds)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    seconds = static_cast<std::uint32_t>(now.tv_sec);
    milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
}

void timeZone(std::uint32_t seconds, std::int16_t& minutesWest, std::int16_t& daylight)
{
    std::tm local{};
    const std::time_t when = static_cast<std::time_t>(seconds);
    ::localtime_r(&when, &local);
    // tm_gmtoff is seconds east of UTC and includes daylight saving; the
    // record carries the standard zone west of UTC and the flag.
    const long dstShift = local.tm_isdst > 0 ? 3600 : 0;
    minutesWest = static_cast<std::int16_t>(-(local.tm_gmtoff - dstShift) / 60);
    daylight = static_cast<std::int16_t>(local.tm_isdst > 0 ? 1 : 0);
}

std::uint32_t lastErrorCode()
{
    return static_cast<std::uint32_t>(errno);
}

std::size_t systemErrorText(std::uint32_t code, char* buffer, std::size_t size, TextLanguage)
{
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const char* text = ::strerror(static_cast<int>(code));
    std::size_t length = std::strlen(text);
    if (length >= size) {
        length = size - 1;
    }
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

LockResult lockMutex(OsHandle mutex, std::uint32_t& errorCode)
{
    auto* handle = static_cast<pthread_mutex_t*>(mutex);
    if (handle == nullptr) {
        errorCode = EINVAL;
        return LockResult::Failed;
    }
    const int result = ::pthread_mutex_lock(handle);
    if (result == 0) {
        errorCode = 0;
        return LockResult::Acquired;
    }
    if (result == EOWNERDEAD) {
        // The previous owner died holding it: we own it now. Mark it usable
        // again, as a Win32 mutex is after WAIT_ABANDONED.
        ::pthread_mutex_consistent(handle);
        errorCode = EOWNERDEAD;
        return LockResult::Abandoned;
    }
    errorCode = static_cast<std::uint32_t>(result);
    return LockResult::Failed;
}

bool unlockMutex(OsHandle mutex, std::uint32_t& errorCode)
{
    auto* handle = static_cast<pthread_mutex_t*>(mutex);
    if (handle == nullptr) {
        errorCode = EINVAL;
        return false;
    }
    const int result = ::pthread_mutex_unlock(handle);
    errorCode = static_cast<std::uint32_t>(result);
    return result == 0;
}

}  // namespace platform
