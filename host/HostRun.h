#pragma once
// One run of the host: every device of a configuration file from createDev
// to deleteDev, one thread per device, the samples to the chosen outputs,
// until a stop request, the run's duration, or the end of every device.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "DeviceHealth.h"
#include "RunLoop.h"
#include "publish/OutputOptions.h"

namespace host {

struct RunOptions {
    OutputOptions outputs;              // the samples' format, the record file, --shm, --osc
    double duration = 0.0;              // seconds; 0: until stopped
    std::string plot;                   // picture made from the record at the end
    std::string plotScript;             // the program that makes it
    std::vector<std::string> python{"python3"};  // the interpreter that runs it, with its first arguments
    std::int32_t debugLevel = 0;        // the logger's debug level
    bool quiet = false;                 // the module writes nothing
    HealthOptions health;               // --silence, --reconnect-after, --no-reconnect, --give-up-after
    // --predict MILLISECONDS: every device's horizon, in place of their
    // predict lines.
    std::optional<double> predict;
};

class HostRun {
public:
    HostRun(ConfigFile& config, RunOptions options);

    // Runs and returns the exit code. Messages of the host go to standard
    // error, each "vantrel-host: ..." on one line.
    int run();

private:
    // False with the reason when --record or --plot names the configuration
    // file, a device's library, or both the same file (also through other
    // paths: the files' identity decides).
    bool outputsStandAlone(std::string& refused) const;
    // Runs the plot script on the record; false (said) when there is no
    // picture.
    bool drawPicture(const std::string& recordPath) const;

    ConfigFile& config_;
    RunOptions options_;
};

}  // namespace host
