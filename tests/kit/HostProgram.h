#pragma once
// Host side of the test kit, native only: the host program (vantrel-host) run
// by a shell script as a user runs it, with the flock simulator on a
// pseudo-terminal of this process at the far end of its devices' lines.
#include <cstdint>
#include <string>
#include <vector>

#include "FlockSimulator.h"
#include "Motion.h"
#include "kit/TextFile.h"

namespace kit {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell script (sh -c "SCRIPT": a $ that belongs to the script is
// written \\$) in which HOST stands for the program and OUT, ERR for its
// output files; the script's own exit status is its result.
Finished runScript(const std::string& script);

// Sensors at bus addresses 2 and 3 (output trackers 1 and 2) go round a
// circle; the mouse on 2 changes its buttons.
flocksim::Motion demoMotion();

// The demo's flock on a pseudo-terminal, and a configuration for it.
struct SimulatedFlock {
    // mouse: the bus address of the unit with the mouse.
    explicit SimulatedFlock(std::uint32_t mouse = 2);
    static flocksim::Setup setup(std::uint32_t mouse = 2);
    // A device block NAME with the module by its full path.
    std::string config(const std::string& name = "flock") const;

    flocksim::FlockSimulator simulator;
    std::uint32_t mouse;
    bool started = false;
};

// A name for a test's shared storages that no other run uses: the unique
// part of a temporary file's name.
std::string blockName(const std::string& temporaryPath);

}  // namespace kit
