#pragma once
// The one interface between the module and the operating system. Everything
// that needs an OS call goes through here; there is a POSIX and a Win32
// implementation of it.
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace platform {

using OsHandle = void*;

// Id of the calling thread, as the log header prints it.
std::uint32_t currentThreadId();

// Blocks the calling thread for the given number of milliseconds.
void sleepMs(std::uint32_t milliseconds);

// Local broken-down time of t (thread-safe).
bool localTime(std::time_t t, std::tm& out);

// The current time: seconds since 1970 and the millisecond within the second.
void currentTime(std::uint32_t& seconds, std::uint16_t& milliseconds);

// The local time zone at the given time: minutes west of UTC (standard time)
// and whether daylight saving is in force.
void timeZone(std::uint32_t seconds, std::int16_t& minutesWest, std::int16_t& daylight);

// The calling thread's last OS error code (GetLastError / errno).
std::uint32_t lastErrorCode();

// Which language the system text is asked in.
enum class TextLanguage { Neutral, UserDefault };

// Writes the system's message text for an error code into buffer, always
// zero-terminated and without a trailing line break. Returns its length.
std::size_t systemErrorText(std::uint32_t code, char* buffer, std::size_t size,
                            TextLanguage language = TextLanguage::Neutral);

// Mutex operations on a handle that the host created (see CMutexH.h).
enum class LockResult { Acquired, Abandoned, Failed };
// On Abandoned the caller owns the mutex; errorCode names the condition.
LockResult lockMutex(OsHandle mutex, std::uint32_t& errorCode);
bool unlockMutex(OsHandle mutex, std::uint32_t& errorCode);

}  // namespace platform
