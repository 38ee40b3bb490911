#pragma once
// One run of the host: every device of a configuration file from createDev
// to deleteDev, one thread per device, the samples to the chosen outputs,
// until a stop request, the run's duration, or the end of every device.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "SampleSink.h"

namespace host {

struct RunOptions {
    enum class Format { Automatic, Table, JsonLines, Csv };
    Format format = Format::Automatic;  // Automatic: the table on a terminal, JSON lines elsewhere
    double duration = 0.0;              // seconds; 0: until stopped
    std::string record;                 // file for the samples' lines while the table shows
    std::string plot;                   // picture made from the record at the end
    std::string plotScript;             // the program that makes it
    std::string python = "python3";     // the interpreter that runs it
    std::int32_t debugLevel = 0;        // the logger's debug level
    bool quiet = false;                 // the module writes nothing
    std::string shm;                    // the storages in shared memory of this name
    std::string osc;                    // HOST:PORT that OSC bundles go to
    int oscHops = 0;                    // hops of multicast OSC datagrams; 0: the system's default
};

// The program's exit codes.
enum ExitCode : int {
    kExitOk = 0,        // ran and stopped cleanly
    kExitDevice = 1,    // a device failed (createDev, init, configure, start, or recvData kept failing)
    kExitUsage = 2,     // command line, configuration file, library or output file
};

class HostRun {
public:
    HostRun(ConfigFile& config, RunOptions options);

    // Runs and returns the exit code. Messages of the host go to standard
    // error, each "vantrel-host: ..." on one line.
    int run();

    // Extra outputs (other kinds of publication) from a caller; each must
    // outlive run().
    void addSink(SampleSink* sink) { extraSinks_.push_back(sink); }

    // Asks every run of the process to stop; safe in a signal handler.
    static void requestStop();
    static bool stopRequested();

private:
    ConfigFile& config_;
    RunOptions options_;
    std::vector<SampleSink*> extraSinks_;
};

}  // namespace host
