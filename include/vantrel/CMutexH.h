#pragma once
// The host's mutex object as the module sees it. The host creates the mutex
// and this object and hands it over inside a data storage; the module only
// locks and unlocks it around its accesses to the storage, and reads no other
// bytes of the object.
//
// mutexHandle:
//   - Windows: a mutex HANDLE created by the host (CreateMutex).
//   - POSIX: a pointer to a pthread_mutex_t that the host initialised as
//     recursive (PTHREAD_MUTEX_RECURSIVE) and robust (PTHREAD_MUTEX_ROBUST),
//     so that it behaves as a Win32 mutex does. A lock that finds the owner
//     dead counts as abandoned: the module reports it as a failed lock, makes
//     the mutex consistent again and returns false; the caller then owns the
//     mutex and unlocks it.
#include <cstddef>
#include <cstdint>

class CLogH;

class CMutexH {
public:
    // Waits without time limit. True when the mutex was acquired normally;
    // false (with an ERROR message) on any failure, an abandoned mutex included.
    bool lock();
    // False (with an ERROR message) when the mutex could not be released.
    bool unlock();

    std::uint32_t reserved0[17];  // host's own bytes 0..67
    void* mutexHandle;            // offset 68 on the 32-bit target
    std::uint32_t reserved1[2];   // host's own bytes 72..79
    CLogH* log;                   // offset 80: logger for this object's messages
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(CMutexH, mutexHandle) == 68, "CMutexH layout");
static_assert(offsetof(CMutexH, log) == 80, "CMutexH layout");
static_assert(sizeof(CMutexH) == 84, "CMutexH layout");
#endif
