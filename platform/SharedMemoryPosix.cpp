#include "platform/SharedMemory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool validName(const char* name)
{
    return name != nullptr && name[0] != '\0' && std::strchr(name, '/') == nullptr &&
           std::strchr(name, '\\') == nullptr;
}

bool formatName(const char* format, const char* name, char* out, std::size_t size)
{
    if (!validName(name)) {
        return false;
    }
    const int length = std::snprintf(out, size, format, name);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

std::uint32_t errnoCode()
{
    return static_cast<std::uint32_t>(errno);
}

}  // namespace

bool sharedMemoryName(const char* name, char* out, std::size_t size)
{
    return formatName("/%s", name, out, size);
}

bool sharedMutexName(const char* name, char* out, std::size_t size)
{
    // The mutex lives inside the block: no name of its own.
    if (!validName(name) || size == 0) {
        return false;
    }
    out[0] = '\0';
    return true;
}

CreateResult createSharedMemory(const char* name, std::size_t size, SharedMemory& out, std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!sharedMemoryName(name, memory.name, sizeof memory.name)) {
        errorCode = EINVAL;
        return CreateResult::Failed;
    }
    const int fd = ::shm_open(memory.name, O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        errorCode = errnoCode();
        return errorCode == EEXIST ? CreateResult::Exists : CreateResult::Failed;
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        errorCode = errnoCode();
        ::close(fd);
        ::shm_unlink(memory.name);
        return CreateResult::Failed;
    }
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    errorCode = errnoCode();
    ::close(fd);
    if (address == MAP_FAILED) {
        ::shm_unlink(memory.name);
        return CreateResult::Failed;
    }
    memory.address = address;
    memory.size = size;
    memory.owner = true;
    out = memory;
    errorCode = 0;
    return CreateResult::Created;
}

bool openSharedMemory(const char* name, std::size_t writableOffset, std::size_t writableLength, SharedMemory& out,
                      std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!sharedMemoryName(name, memory.name, sizeof memory.name)) {
        errorCode = EINVAL;
        return false;
    }
    const int fd = ::shm_open(memory.name, writableLength > 0 ? O_RDWR : O_RDONLY, 0);
    if (fd < 0) {
        errorCode = errnoCode();
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0) {
        errorCode = status.st_size <= 0 ? EINVAL : errnoCode();
        ::close(fd);
        return false;
    }
    const std::size_t size = static_cast<std::size_t>(status.st_size);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    errorCode = errnoCode();
    ::close(fd);
    if (address == MAP_FAILED) {
        return false;
    }
    if (writableLength > 0) {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t first = writableOffset / page * page;
        const std::size_t end = (writableOffset + writableLength + page - 1) / page * page;
        if (end > size ||
            ::mprotect(static_cast<char*>(address) + first, end - first, PROT_READ | PROT_WRITE) != 0) {
            errorCode = end > size ? EINVAL : errnoCode();
            ::munmap(address, size);
            return false;
        }
    }
    memory.address = address;
    memory.size = size;
    out = memory;
    errorCode = 0;
    return true;
}

void closeSharedMemory(SharedMemory& memory)
{
    if (memory.address != nullptr) {
        ::munmap(memory.address, memory.size);
    }
    if (memory.owner) {
        ::shm_unlink(memory.name);
    }
    memory = SharedMemory();
}

bool removeSharedMemory(const char* name, std::uint32_t& errorCode)
{
    char systemName[96];
    if (!sharedMemoryName(name, systemName, sizeof systemName)) {
        errorCode = EINVAL;
        return false;
    }
    if (::shm_unlink(systemName) != 0) {
        errorCode = errnoCode();
        return false;
    }
    errorCode = 0;
    return true;
}

std::size_t sharedMutexSize()
{
    return sizeof(pthread_mutex_t);
}

bool createSharedMutex(void* memory, const char*, OsHandle& handle, std::uint32_t& errorCode)
{
    auto* mutex = static_cast<pthread_mutex_t*>(memory);
    pthread_mutexattr_t attributes;
    int result = ::pthread_mutexattr_init(&attributes);
    if (result == 0) {
        result = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    }
    if (result == 0) {
        result = ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    }
    if (result == 0) {
        result = ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    }
    if (result == 0) {
        result = ::pthread_mutex_init(mutex, &attributes);
    }
    ::pthread_mutexattr_destroy(&attributes);
    errorCode = static_cast<std::uint32_t>(result);
    handle = result == 0 ? mutex : nullptr;
    return result == 0;
}

bool openSharedMutex(void* memory, const char*, OsHandle& handle, std::uint32_t& errorCode)
{
    handle = memory;
    errorCode = 0;
    return memory != nullptr;
}

void closeSharedMutex(OsHandle)
{
}

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

bool processAlive(std::uint32_t processId)
{
    return processId != 0 && (::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

}  // namespace platform
