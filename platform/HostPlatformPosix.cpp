#include "platform/HostPlatform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

OsHandle createHostMutex()
{
    auto* mutex = new pthread_mutex_t;
    pthread_mutexattr_t attributes;
    ::pthread_mutexattr_init(&attributes);
    ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    const int result = ::pthread_mutex_init(mutex, &attributes);
    ::pthread_mutexattr_destroy(&attributes);
    if (result != 0) {
        delete mutex;
        return nullptr;
    }
    return mutex;
}

void destroyHostMutex(OsHandle mutex)
{
    auto* handle = static_cast<pthread_mutex_t*>(mutex);
    if (handle != nullptr) {
        ::pthread_mutex_destroy(handle);
        delete handle;
    }
}

namespace {

void (*stopCallback)() = nullptr;

extern "C" void onStopSignal(int)
{
    if (stopCallback != nullptr) {
        stopCallback();
    }
}

}  // namespace

void installStopHandler(void (*onStop)())
{
    stopCallback = onStop;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call of the main thread returns early.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // A closed pipe shows as a failed write, which stops the run in order.
    ::signal(SIGPIPE, SIG_IGN);
}

void endProcessNow(const char* message, int code)
{
    std::size_t length = 0;
    while (message[length] != '\0') {
        ++length;
    }
    (void)!::write(STDERR_FILENO, message, length);
    ::_exit(code);
}

Presence serialPortPresence(const char* name)
{
    if (name == nullptr || *name == '\0') {
        return Presence::Unknown;
    }
    struct stat info {};
    if (::stat(name, &info) == 0) {
        return Presence::Present;
    }
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

bool isTerminal(std::FILE* stream)
{
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

bool enableTerminalEscapes()
{
    return true;
}

std::FILE* takeStandardOutput()
{
    std::fflush(stdout);
    const int data = ::dup(STDOUT_FILENO);
    if (data < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(data, "w");
    if (stream == nullptr) {
        ::close(data);
        return nullptr;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string folder(path, static_cast<std::size_t>(length));
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace platform
