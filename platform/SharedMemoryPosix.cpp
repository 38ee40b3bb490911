#include "platform/SharedMemory.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#endif

namespace platform {

namespace {

// "/NAME" of a NAME that sharedMemoryNameProblem passes.
bool systemName(const char* name, char* out, std::size_t size)
{
    char problem[64];
    if (sharedMemoryNameProblem(name, problem, sizeof problem) != nullptr) {
        return false;
    }
    const int length = std::snprintf(out, size, "/%s", name[0] == '/' ? name + 1 : name);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

std::uint32_t errnoCode()
{
    return static_cast<std::uint32_t>(errno);
}

// The read that readSharedMemory runs on this thread, where a SIGBUS goes
// back to.
thread_local sigjmp_buf* volatile readingAt = nullptr;
struct sigaction previousBusAction {};
std::once_flag busHandlerInstalled;

extern "C" void onBusError(int signal, siginfo_t* info, void* context)
{
    if (readingAt != nullptr) {
        ::siglongjmp(*readingAt, 1);
    }
    // Not a read of ours: as it would have been without this handler.
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
        previousBusAction.sa_sigaction(signal, info, context);
    } else if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signal);
    } else {
        // The fault comes again on return, and ends the process.
        ::signal(SIGBUS, SIG_DFL);
    }
}

}  // namespace

std::size_t sharedMemoryNameLimit()
{
    return NAME_MAX;
}

bool sharedMemoryHasModes()
{
    return true;
}

CreateResult createSharedMemory(const char* name, std::size_t size, std::uint32_t mode, SharedMemory& out,
                                std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!systemName(name, memory.name, sizeof memory.name)) {
        errorCode = EINVAL;
        return CreateResult::Failed;
    }
    const int fd = ::shm_open(memory.name, O_RDWR | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
    if (fd < 0) {
        errorCode = errnoCode();
        return errorCode == EEXIST ? CreateResult::Exists : CreateResult::Failed;
    }
    CreateResult result = CreateResult::Failed;
    // The permissions exactly as asked, whatever the umask took away.
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        errorCode = errnoCode();
    } else if (const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(size)); reserved != 0) {
        // Every page now, rather than a SIGBUS at the first page that the
        // system cannot give later.
        errorCode = static_cast<std::uint32_t>(reserved);
        result = CreateResult::NoRoom;
    } else {
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (address != MAP_FAILED) {
            memory.address = address;
            memory.size = size;
            memory.owner = true;
            out = memory;
            errorCode = 0;
            result = CreateResult::Created;
        } else {
            errorCode = errnoCode();
        }
    }
    ::close(fd);
    if (result != CreateResult::Created) {
        ::shm_unlink(memory.name);
    }
    return result;
}

bool openSharedMemory(const char* name, SharedMemory& out, std::uint32_t& errorCode)
{
    SharedMemory memory;
    if (!systemName(name, memory.name, sizeof memory.name)) {
        errorCode = EINVAL;
        return false;
    }
    const int fd = ::shm_open(memory.name, O_RDONLY, 0);
    if (fd < 0) {
        errorCode = errnoCode();
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        errorCode = errnoCode();
        ::close(fd);
        return false;
    }
    memory.descriptor = fd;
    memory.size = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
    if (memory.size > 0) {
        void* address = ::mmap(nullptr, memory.size, PROT_READ, MAP_SHARED, fd, 0);
        if (address == MAP_FAILED) {
            errorCode = errnoCode();
            ::close(fd);
            return false;
        }
        memory.address = address;
    }
    out = memory;
    errorCode = 0;
    return true;
}

bool currentSharedMemorySize(const SharedMemory& memory, std::size_t& size, std::uint32_t& errorCode)
{
    struct stat status {};
    if (::fstat(memory.descriptor, &status) != 0) {
        errorCode = errnoCode();
        return false;
    }
    size = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
    errorCode = 0;
    return true;
}

bool readSharedMemory(void (*read)(void* context), void* context)
{
    std::call_once(busHandlerInstalled, [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        // Not blocked while handled: the jump back out of the handler then
        // finds the signal mask as it was, so the read need not save it (a
        // system call per read).
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
    sigjmp_buf at;
    if (sigsetjmp(at, 0) != 0) {
        readingAt = nullptr;
        return false;
    }
    readingAt = &at;
    read(context);
    readingAt = nullptr;
    return true;
}

void closeSharedMemory(SharedMemory& memory)
{
    if (memory.address != nullptr) {
        ::munmap(memory.address, memory.size);
    }
    if (memory.descriptor >= 0) {
        ::close(memory.descriptor);
    }
    if (memory.owner) {
        ::shm_unlink(memory.name);
    }
    memory = SharedMemory();
}

bool removeSharedMemory(const char* name, std::uint32_t& errorCode)
{
    char path[300];
    if (!systemName(name, path, sizeof path)) {
        errorCode = EINVAL;
        return false;
    }
    if (::shm_unlink(path) != 0) {
        errorCode = errnoCode();
        return false;
    }
    errorCode = 0;
    return true;
}

// A futex of the shared page (not FUTEX_PRIVATE_FLAG): the waiters are other
// processes. A word past the end of a block that shrank makes the call fail
// (EFAULT) rather than fault.
void wakeWordWaiters(std::uint32_t* word)
{
#if defined(__linux__)
    ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
#else
    (void)word;
#endif
}

void waitWhileWordIs(const std::uint32_t* word, std::uint32_t seen, std::uint32_t timeoutMicroseconds)
{
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(timeoutMicroseconds / 1000000u);
    timeout.tv_nsec = static_cast<long>(timeoutMicroseconds % 1000000u) * 1000L;
#if defined(__linux__)
    // The kernel only reads the word.
    ::syscall(SYS_futex, const_cast<std::uint32_t*>(word), FUTEX_WAIT, seen, &timeout, nullptr, 0);
#else
    (void)word;
    (void)seen;
    ::nanosleep(&timeout, nullptr);
#endif
}

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

bool processAlive(std::uint32_t processId)
{
    return processId != 0 && processId <= static_cast<std::uint32_t>(INT_MAX) &&
           (::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

}  // namespace platform
