#include "platform/HostPlatform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    // A closed pipe shows as a failed write, which stops the run in order;
    // so does a file that reaches the process's size limit.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
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

bool isLiveStream(std::FILE* stream)
{
    struct stat status {};
    return stream != nullptr && ::fstat(::fileno(stream), &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || S_ISCHR(status.st_mode));
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
    // Programs that the host starts do not get it.
    ::fcntl(data, F_SETFD, FD_CLOEXEC);
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

namespace {

// The folder part of a path, "." when it has none.
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    return folderOf(std::string(path, static_cast<std::size_t>(length)));
}

namespace {

constexpr std::size_t kKeptErrors = 64 * 1024;

std::string errorText(int code)
{
    char text[512];
    systemErrorText(static_cast<std::uint32_t>(code), text, sizeof text);
    return text;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& arguments)
{
    ProgramRun run;
    if (arguments.empty()) {
        run.errors = errorText(EINVAL);
        return run;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        run.errors = errorText(errno);
        return run;
    }
    // Its standard output to ours of errors (ours may carry samples), its
    // standard error into the pipe; the pipe's own descriptors close at exec.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(errors[1]);
    if (spawned != 0) {
        ::close(errors[0]);
        run.errors = errorText(spawned);
        return run;
    }
    run.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(errors[0], buffer, sizeof buffer);
        if (got > 0) {
            run.errors.append(buffer, static_cast<std::size_t>(got));
            if (run.errors.size() > 2 * kKeptErrors) {
                run.errors.erase(0, run.errors.size() - kKeptErrors);
            }
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(errors[0]);
    if (run.errors.size() > kKeptErrors) {
        run.errors.erase(0, run.errors.size() - kKeptErrors);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool sameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool isSpecialFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

std::FILE* createFileBeside(const std::string& path, std::string& created, std::string& error)
{
    std::string name = folderOf(path) + "/.vantrel-XXXXXX";
    const int fd = ::mkstemp(&name[0]);
    if (fd < 0) {
        error = errorText(errno);
        return nullptr;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        error = errorText(errno);
        ::close(fd);
        ::unlink(name.c_str());
        return nullptr;
    }
    created = name;
    return stream;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = errorText(errno);
        return false;
    }
    return true;
}

bool beginCapture(OutputCapture& capture, std::string& error)
{
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder != nullptr && folder[0] == '/' ? folder : "/tmp") + "/vantrel-capture-XXXXXX";
    const int file = ::mkstemp(&name[0]);
    if (file < 0) {
        error = errorText(errno);
        return false;
    }
    ::unlink(name.c_str());
    ::fcntl(file, F_SETFD, FD_CLOEXEC);
    std::fflush(stdout);
    const int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved < 0 || ::dup2(file, STDOUT_FILENO) < 0) {
        error = errorText(errno);
        if (saved >= 0) {
            ::close(saved);
        }
        ::close(file);
        return false;
    }
    capture.savedOutput = saved;
    capture.file = file;
    return true;
}

std::string endCapture(OutputCapture& capture)
{
    std::string text;
    if (capture.file < 0) {
        return text;
    }
    std::fflush(stdout);
    ::dup2(capture.savedOutput, STDOUT_FILENO);
    ::close(capture.savedOutput);
    char buffer[4096];
    ::lseek(capture.file, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(capture.file, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(capture.file);
    capture = OutputCapture();
    return text;
}

}  // namespace platform
