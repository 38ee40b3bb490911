#include "platform/SharedMemory.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

namespace platform {

namespace {

constexpr char kPrefix[] = "Local\\vantrel.";

// "Local\vantrel.NAME" of a NAME that sharedMemoryNameProblem passes.
bool systemName(const char* name, char* out, std::size_t size)
{
    char problem[64];
    if (sharedMemoryNameProblem(name, problem, sizeof problem) != nullptr) {
        return false;
    }
    const int length = std::snprintf(out, size, "%s%s", kPrefix, name[0] == '/' ? name + 1 : name);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

}  // namespace

std::size_t sharedMemoryNameLimit()
{
    return MAX_PATH - sizeof kPrefix;
}

bool sharedMemoryHasModes()
{
    return false;
}

CreateResult createSharedMemory(const char* name, std::size_t size, std::uint32_t, SharedMemory& out,
                                std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!systemName(name, memory.name, sizeof memory.name)) {
        errorCode = ERROR_INVALID_NAME;
        return CreateResult::Failed;
    }
    // A mapping of the paging file starts zero-filled; SEC_COMMIT charges
    // all of it to the system's commit limit now, so that it fails here when
    // the system cannot hold it. No security attributes: the default security
    // of the user's objects.
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                          static_cast<DWORD>(size), memory.name);
    if (mapping == nullptr) {
        errorCode = ::GetLastError();
        return errorCode == ERROR_COMMITMENT_LIMIT || errorCode == ERROR_NOT_ENOUGH_MEMORY ||
                       errorCode == ERROR_OUTOFMEMORY
                   ? CreateResult::NoRoom
                   : CreateResult::Failed;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        errorCode = ERROR_ALREADY_EXISTS;
        ::CloseHandle(mapping);
        return CreateResult::Exists;
    }
    void* address = ::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
    if (address == nullptr) {
        errorCode = ::GetLastError();
        ::CloseHandle(mapping);
        return CreateResult::Failed;
    }
    memory.address = address;
    memory.size = size;
    memory.handle = mapping;
    memory.owner = true;
    out = memory;
    errorCode = 0;
    return CreateResult::Created;
}

bool openSharedMemory(const char* name, SharedMemory& out, std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!systemName(name, memory.name, sizeof memory.name)) {
        errorCode = ERROR_INVALID_NAME;
        return false;
    }
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, memory.name);
    if (mapping == nullptr) {
        errorCode = ::GetLastError();
        return false;
    }
    void* address = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (address == nullptr) {
        errorCode = ::GetLastError();
        ::CloseHandle(mapping);
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    if (::VirtualQuery(address, &region, sizeof region) == 0) {
        errorCode = ::GetLastError();
        ::UnmapViewOfFile(address);
        ::CloseHandle(mapping);
        return false;
    }
    memory.address = address;
    memory.size = region.RegionSize;
    memory.handle = mapping;
    out = memory;
    errorCode = 0;
    return true;
}

bool currentSharedMemorySize(const SharedMemory& memory, std::size_t& size, std::uint32_t& errorCode)
{
    // A mapping keeps the size it was created with.
    size = memory.size;
    errorCode = 0;
    return true;
}

bool readSharedMemory(void (*read)(void* context), void* context)
{
    read(context);
    return true;
}

void closeSharedMemory(SharedMemory& memory)
{
    if (memory.address != nullptr) {
        ::UnmapViewOfFile(memory.address);
    }
    if (memory.handle != nullptr) {
        ::CloseHandle(memory.handle);
    }
    memory = SharedMemory();
}

bool removeSharedMemory(const char*, std::uint32_t& errorCode)
{
    errorCode = 0;
    return true;
}

// Waits are short sleeps here: Windows has no wake-up on a word across
// processes (WaitOnAddress stays within one); an event object of the block's
// is left for when a Windows reader needs less than a millisecond.
void wakeWordWaiters(std::uint32_t*) {}

void waitWhileWordIs(const std::uint32_t*, std::uint32_t, std::uint32_t timeoutMicroseconds)
{
    ::Sleep(timeoutMicroseconds < 1000u ? 1u : timeoutMicroseconds / 1000u);
}

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

bool processAlive(std::uint32_t processId)
{
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

}  // namespace platform
