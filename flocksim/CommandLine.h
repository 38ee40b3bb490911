#pragma once
// flocksim's command line: the options as given, the flock they describe,
// and the help text that documents them.
#include <string>
#include <utility>
#include <vector>

#include "FlockRecord.h"
#include "FlockSetup.h"
#include "Motion.h"

namespace flocksim {

struct CommandLine {
    // The flock.
    unsigned units = 2;
    std::vector<long> ercs{1};
    std::vector<std::pair<long, long>> ercTransmitters;  // address (0: every ERC), mask
    std::vector<long> srts, receivers, noReceiver, mice, notRunning, buttonMode, ignoreButtonMode;
    std::vector<std::pair<long, long>> status;
    long addressing = 14;
    long lineUnit = 1;
    long groupReply = -1;
    bool finishGroup = false;
    bool spreadCycle = false;
    // Streaming and faults.
    double rate = 100.0;
    std::string motion = "still";
    Sample pose;
    std::vector<ButtonStep> buttons;
    double positionNoise = 0.0;
    double angleNoise = 0.0;
    Faults faults;
    LeftOver leftOver;
    // Running.
    std::string linkPath;
    long wineCom = -1;  // 0: automatic
    std::string readyFile;
    std::string controlDirectory;
    long ownerPid = 0;
    bool dieWithParent = false;
    bool verbose = false;
    bool help = false;
    bool version = false;

    // Reads the arguments that follow the program name. False with a reason
    // for the first bad or incomplete option.
    bool parse(int count, const char* const* arguments, std::string& error);
    // The flock that the options describe. False with a reason when an
    // option names a unit that the flock does not have.
    bool buildSetup(Setup& setup, std::string& error) const;

    static const char* usage();
};

}  // namespace flocksim
