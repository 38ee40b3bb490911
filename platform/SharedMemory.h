#pragma once
// Named shared memory for the host program's shared storages
// (vantrel/SharedStorages.h). POSIX: shm_open and mmap, the whole size
// reserved at creation; Win32: a file mapping on the paging file, committed
// at creation. The host writes the block, readers only map it to read: there
// is no lock between them. Not part of the module.
#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace platform {

struct SharedMemory {
    void* address = nullptr;
    std::size_t size = 0;       // bytes mapped
    OsHandle handle = nullptr;  // Win32: the mapping; POSIX: unused
    int descriptor = -1;        // POSIX: the open block, for its size now; Win32: unused
    bool owner = false;         // created it: removes the name on close
    char name[300] = {};        // the system's name of the block
};

// The longest NAME that the system takes (POSIX NAME_MAX; Win32 what
// "Local\vantrel." leaves of MAX_PATH).
std::size_t sharedMemoryNameLimit();

// Null when NAME can name a block; otherwise what is wrong with it, for
// "the name of shared storages \"NAME\" ..." ("is empty", "holds a \"/\"
// after its first character", "is \".\" or \"..\"", "holds a \"\\\"", "is
// longer than N characters"). One "/" in front is allowed and means the
// same name without it.
const char* sharedMemoryNameProblem(const char* name, char* text, std::size_t size);

// Whether blocks take permission bits (POSIX); Win32 blocks have the default
// security of the user's objects (the user, SYSTEM, administrators).
bool sharedMemoryHasModes();

enum class CreateResult { Created, Exists, Failed, NoRoom };

// Creates the named block with the given permissions (POSIX mode bits,
// exactly these whatever the umask; Win32: the default security of the
// user's objects, mode ignored), reserves all of its size (NoRoom when the
// system's shared memory cannot hold it; nothing is left behind then),
// zero-filled and mapped read-write. Exists when a block of that name is
// already there (nothing is changed then).
CreateResult createSharedMemory(const char* name, std::size_t size, std::uint32_t mode, SharedMemory& out,
                                std::uint32_t& errorCode);

// Maps an existing block, read-only, as large as it is now.
bool openSharedMemory(const char* name, SharedMemory& out, std::uint32_t& errorCode);

// The block's size as the system has it now (POSIX: it may have shrunk or
// grown since it was mapped; Win32: a mapping keeps its size).
bool currentSharedMemorySize(const SharedMemory& memory, std::size_t& size, std::uint32_t& errorCode);

// Runs read(context), which reads a block mapped by openSharedMemory, and
// returns true; false instead of ending the process when the block shrank
// under the read (POSIX: the SIGBUS of a mapped page past the block's end).
// read must not hold anything that needs undoing (no destructors, locks or
// allocations), as it is left at the fault.
bool readSharedMemory(void (*read)(void* context), void* context);

// A wake-up for readers that wait for a word of a block to change, instead
// of looking again and again. The writer stores the word, then wakes its
// waiters: one system call that never blocks and takes no lock (Linux: a
// futex wake-up on the shared page; Win32: nothing, as a wait there is a
// sleep). A reader, which may map the block read-only, waits while the word
// holds the value it has seen, at most timeoutMicroseconds; it may return
// sooner (a wake-up, a signal), so it looks at the word itself afterwards.
void wakeWordWaiters(std::uint32_t* word);
void waitWhileWordIs(const std::uint32_t* word, std::uint32_t seen, std::uint32_t timeoutMicroseconds);

// Unmaps the block; the creator also removes its name.
void closeSharedMemory(SharedMemory& memory);

// Removes a block's name that a host left behind (POSIX; Win32 has nothing to
// remove once every handle is closed).
bool removeSharedMemory(const char* name, std::uint32_t& errorCode);

// The calling process's id, and whether a process of that id still runs.
std::uint32_t currentProcessId();
bool processAlive(std::uint32_t processId);

}  // namespace platform
