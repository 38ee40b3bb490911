#include "kit/HostProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "kit/TextFile.h"

extern char** environ;

namespace kit {

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

HostProcess::HostProcess(const std::string& config, const std::vector<std::string>& options) : config_(config)
{
    std::vector<std::string> words{"run", config_.path(), "--format", "jsonl"};
    words.insert(words.end(), options.begin(), options.end());
    start(words);
}

HostProcess::HostProcess(const std::vector<std::string>& arguments) : config_("")
{
    start(arguments);
}

void HostProcess::start(const std::vector<std::string>& given)
{
    std::vector<std::string> words{VANTREL_HOST_PATH};
    words.insert(words.end(), given.begin(), given.end());
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out_.path().c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&files, 2, err_.path().c_str(), O_WRONLY | O_TRUNC, 0);
    started_ = posix_spawn(&pid_, arguments[0], &files, nullptr, arguments.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&files);
}

HostProcess::~HostProcess()
{
    if (started_ && status_ < 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

void HostProcess::signal(int number) const
{
    ::kill(pid_, number);
}

int HostProcess::wait()
{
    int status = 0;
    if (status_ < 0 && ::waitpid(pid_, &status, 0) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    }
    return status_;
}

std::vector<std::string> HostProcess::out() const
{
    return linesOf(contentOf(out_.path()));
}

std::string HostProcess::err() const
{
    return contentOf(err_.path());
}

std::vector<std::string> HostProcess::said(const std::string& text) const
{
    std::vector<std::string> lines;
    for (const std::string& line : linesOf(err())) {
        if (line.rfind("vantrel-host: ", 0) == 0 && line.find(text) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

bool HostProcess::waitForLine(const std::string& text, double timeoutSeconds) const
{
    const double until = now() + timeoutSeconds;
    while (now() < until) {
        for (const std::string& line : out()) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace kit
