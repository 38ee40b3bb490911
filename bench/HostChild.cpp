#include "HostChild.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/HostPlatform.h"

extern char** environ;

namespace bench {

HostChild::~HostChild()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (pipe_ >= 0) {
        ::close(pipe_);
    }
    if (!config_.empty()) {
        std::remove(config_.c_str());
    }
}

std::string HostChild::programFolder()
{
    return platform::programFolder();
}

std::string HostChild::modulePath()
{
    return programFolder() + "/libvantrel.so";
}

bool HostChild::run(const std::string& configuration, const std::vector<std::string>& arguments, bool pipeOutput,
                    std::string& error)
{
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/vantrel-bench-XXXXXX";
    const int fd = ::mkstemp(&name[0]);  // mode 0600
    if (fd < 0) {
        error = "cannot make a configuration file: " + std::string(std::strerror(errno));
        return false;
    }
    config_ = name;
    const bool written = ::write(fd, configuration.data(), configuration.size()) ==
                         static_cast<ssize_t>(configuration.size());
    ::close(fd);
    if (!written) {
        error = "cannot write the configuration file " + name;
        return false;
    }
    std::vector<std::string> words{"run", config_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return start(words, pipeOutput, error);
}

bool HostChild::start(const std::vector<std::string>& arguments, bool pipeOutput, std::string& error)
{
    std::vector<std::string> words{programFolder() + "/vantrel-host"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    int ends[2] = {-1, -1};
    if (pipeOutput && ::pipe2(ends, O_CLOEXEC) != 0) {
        error = "cannot make a pipe: " + std::string(std::strerror(errno));
        return false;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (pipeOutput) {
        posix_spawn_file_actions_adddup2(&files, ends[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    const int failed = posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (pipeOutput) {
        ::close(ends[1]);
        pipe_ = ends[0];
    }
    if (failed != 0) {
        pid_ = -1;
        error = "cannot start " + words[0] + ": " + std::strerror(failed);
        return false;
    }
    return true;
}

int HostChild::stop()
{
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
