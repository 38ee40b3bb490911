#pragma once
// Host side of the test kit, native only: vantrel-host run with a
// configuration and options, in a process of its own (started without a
// shell), its standard output and error in files that the test reads while
// it runs.
#include <string>
#include <sys/types.h>
#include <vector>

#include "kit/TempFile.h"

namespace kit {

class HostProcess {
public:
    // `vantrel-host run CONFIG --format jsonl options...`.
    HostProcess(const std::string& config, const std::vector<std::string>& options);
    // `vantrel-host arguments...` (watch NAME ...).
    explicit HostProcess(const std::vector<std::string>& arguments);
    // Kills the program (SIGKILL) when it still runs.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool started() const { return started_; }
    const std::string& configPath() const { return config_.path(); }
    void signal(int number) const;
    // The exit status (-1: ended otherwise).
    int wait();
    std::vector<std::string> out() const;
    std::string err() const;
    // The host's own lines ("vantrel-host: ...") that contain text.
    std::vector<std::string> said(const std::string& text) const;
    // Waits until a line of standard output contains text; false after
    // timeoutSeconds.
    bool waitForLine(const std::string& text, double timeoutSeconds) const;

private:
    void start(const std::vector<std::string>& arguments);

    TempFile config_;
    TempFile out_{""};
    TempFile err_{""};
    pid_t pid_ = 0;
    bool started_ = false;
    int status_ = -1;
};

}  // namespace kit
