#pragma once
// Named shared memory and a mutex that processes share, for the host
// program's shared storages (vantrel/SharedStorages.h). POSIX: shm_open and
// mmap, a robust process-shared pthread mutex inside the block. Win32: a file
// mapping on the paging file and a named mutex. Not part of the module.
#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace platform {

struct SharedMemory {
    void* address = nullptr;
    std::size_t size = 0;
    OsHandle handle = nullptr;  // Win32: the mapping; POSIX: unused
    bool owner = false;         // created it: removes the name on close
    char name[96] = {};         // the system's name of the block
};

// The system's names for the block and its mutex made of the user's NAME
// (POSIX "/NAME"; Win32 "Local\vantrel.NAME" and "Local\vantrel.NAME.mutex").
// False when NAME is empty, too long or holds a slash or backslash.
bool sharedMemoryName(const char* name, char* out, std::size_t size);
bool sharedMutexName(const char* name, char* out, std::size_t size);

enum class CreateResult { Created, Exists, Failed };

// Creates the named block, zero-filled and mapped read-write. Exists when a
// block of that name is already there (nothing is changed then).
CreateResult createSharedMemory(const char* name, std::size_t size, SharedMemory& out,
                                std::uint32_t& errorCode);

// Maps an existing block. With writableLength 0 the whole block is mapped
// read-only; otherwise the pages holding [writableOffset, writableOffset +
// writableLength) are writable and the rest read-only.
bool openSharedMemory(const char* name, std::size_t writableOffset, std::size_t writableLength,
                      SharedMemory& out, std::uint32_t& errorCode);

// Unmaps the block; the creator also removes its name.
void closeSharedMemory(SharedMemory& memory);

// Removes a block's name that a host left behind (POSIX; Win32 has nothing to
// remove once every handle is closed).
bool removeSharedMemory(const char* name, std::uint32_t& errorCode);

// Bytes of a mutex that lives in shared memory (POSIX: pthread_mutex_t;
// Win32: 0, the mutex is a named kernel object).
std::size_t sharedMutexSize();

// Creates the mutex that processes share: POSIX initialises a robust,
// process-shared, recursive pthread mutex at `memory`; Win32 creates the
// named mutex `mutexName`. The handle is what lockMutex / unlockMutex take
// (POSIX: the mutex's address).
bool createSharedMutex(void* memory, const char* mutexName, OsHandle& handle, std::uint32_t& errorCode);

// Opens the mutex that another process created.
bool openSharedMutex(void* memory, const char* mutexName, OsHandle& handle, std::uint32_t& errorCode);

// Lets go of the handle (Win32). A POSIX mutex ends with its block: other
// processes may still hold the block mapped, so it is never destroyed.
void closeSharedMutex(OsHandle handle);

// The calling process's id, and whether a process of that id still runs.
std::uint32_t currentProcessId();
bool processAlive(std::uint32_t processId);

}  // namespace platform
