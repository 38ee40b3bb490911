#pragma once
// vantrel-host as the benches run it: a process of its own (started without a
// shell, each argument as it is), with a configuration file of the bench's
// (private, removed at the end) and its standard output on a pipe that the
// bench reads, or thrown away. Native only.
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class HostChild {
public:
    HostChild() = default;
    // Ends the program (SIGKILL) when it still runs, and removes the file.
    ~HostChild();
    HostChild(const HostChild&) = delete;
    HostChild& operator=(const HostChild&) = delete;

    // Writes the configuration into a new private file and starts
    // `vantrel-host run FILE arguments...` (the program beside the bench's).
    // With pipeOutput its standard output is a pipe (outputPipe()), else the
    // null device; standard error stays the bench's. False with the reason.
    bool run(const std::string& configuration, const std::vector<std::string>& arguments, bool pipeOutput,
             std::string& error);
    // `vantrel-host arguments...` the same way, without a configuration.
    bool start(const std::vector<std::string>& arguments, bool pipeOutput, std::string& error);

    // The read end of the program's standard output (-1 without a pipe).
    int outputPipe() const { return pipe_; }
    // SIGTERM, then waits; the exit status (-1: ended by a signal).
    int stop();

    // The folder of the bench's program, where the host and the module are.
    static std::string programFolder();
    // The module's full path there.
    static std::string modulePath();

private:
    pid_t pid_ = -1;
    int pipe_ = -1;
    std::string config_;
};

}  // namespace bench
