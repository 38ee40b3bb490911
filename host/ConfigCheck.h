#pragma once
// `vantrel-host check FILE`: whether a configuration file would run, without
// running it. It reads the file, loads each device's library, creates each
// device, runs its init and deletes it (init opens and closes the port and
// sends nothing on it; configure is never called), and names every problem
// with the file's line: the host's own, and the module's, which it takes from
// the module's log. The module stops at the first stage of its init that
// fails (the device's options, the tracker layer's, the controller layer's,
// the unknown options, the calibration library, the port), so the check runs
// init again without the lines it refused until init goes through or fails
// without naming a line.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ConfigFile.h"

namespace host {

class ConfigCheck {
public:
    // Checks the file and writes every problem to out, each
    // "FILE:LINE: text" (or "FILE: text"), then one line that sums up.
    // Returns 0 when the file would run, 1 when it would not.
    int run(const std::string& path, std::ostream& out);

private:
    // One problem: the line it is on (0: the whole file) and what to say.
    struct Problem {
        std::uint32_t line = 0;
        std::string text;
    };

    // Every problem of one device, each init with the storages as the devices
    // before it left them.
    void checkDevice(DeviceConfig& device);
    void add(std::uint32_t line, const std::string& text);

    ConfigFile config_;
    std::vector<Problem> problems_;
    std::uint32_t trackersBefore_ = 0;     // entries that the devices before took
    std::uint32_t controllersBefore_ = 0;
};

}  // namespace host
