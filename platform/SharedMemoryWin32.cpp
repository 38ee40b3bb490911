#include "platform/SharedMemory.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

namespace platform {

namespace {

bool formatName(const char* format, const char* name, char* out, std::size_t size)
{
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr ||
        std::strchr(name, '\\') != nullptr) {
        return false;
    }
    const int length = std::snprintf(out, size, format, name);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

}  // namespace

bool sharedMemoryName(const char* name, char* out, std::size_t size)
{
    return formatName("Local\\vantrel.%s", name, out, size);
}

bool sharedMutexName(const char* name, char* out, std::size_t size)
{
    return formatName("Local\\vantrel.%s.mutex", name, out, size);
}

CreateResult createSharedMemory(const char* name, std::size_t size, SharedMemory& out, std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!sharedMemoryName(name, memory.name, sizeof memory.name)) {
        errorCode = ERROR_INVALID_NAME;
        return CreateResult::Failed;
    }
    // A mapping of the paging file starts zero-filled.
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(size), memory.name);
    if (mapping == nullptr) {
        errorCode = ::GetLastError();
        return CreateResult::Failed;
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

bool openSharedMemory(const char* name, std::size_t, std::size_t, SharedMemory& out, std::uint32_t& errorCode)
{
    // The mutex is a kernel object of its own: the block is only read.
    SharedMemory memory;
    if (!sharedMemoryName(name, memory.name, sizeof memory.name)) {
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

std::size_t sharedMutexSize()
{
    return 0;
}

bool createSharedMutex(void*, const char* mutexName, OsHandle& handle, std::uint32_t& errorCode)
{
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, mutexName);
    if (mutex == nullptr) {
        errorCode = ::GetLastError();
        handle = nullptr;
        return false;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        errorCode = ERROR_ALREADY_EXISTS;
        ::CloseHandle(mutex);
        handle = nullptr;
        return false;
    }
    errorCode = 0;
    handle = mutex;
    return true;
}

bool openSharedMutex(void*, const char* mutexName, OsHandle& handle, std::uint32_t& errorCode)
{
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName);
    errorCode = mutex == nullptr ? ::GetLastError() : 0;
    handle = mutex;
    return mutex != nullptr;
}

void closeSharedMutex(OsHandle handle)
{
    if (handle != nullptr) {
        ::CloseHandle(handle);
    }
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
