#pragma once
// The simulator's side of a control directory (flocksim --control DIR): a
// test program in another process, which cannot reach the simulator's
// memory (a Windows program under Wine), reads the bytes the flock received,
// clears that log, puts bytes on the line and ends the program, all through
// files. Each file is written under another name and renamed into place, so
// that no side ever reads one half written.
//   DIR/command-1, command-2, ...  from the test program, carried out in this
//                                  order and removed: "send HH HH ..",
//                                  "every MS HH HH .." (those bytes now and
//                                  every MS milliseconds; none: no more),
//                                  "hang-up silence|close|power-off MS" (back
//                                  after MS milliseconds; 0: never),
//                                  "clear" or "stop"
//   DIR/received                   from here, whenever it changes: "done N"
//                                  (the last command carried out), then the
//                                  bytes received so far in hexadecimal
#include <cstdint>
#include <string>
#include <vector>

namespace flocksim {

class FlockSimulator;

class ControlChannel {
public:
    explicit ControlChannel(std::string directory);

    // Carries out the commands that arrived and brings DIR/received up to
    // date. False when the program is to end: a stop command came, or the
    // directory is gone.
    bool serve(FlockSimulator& simulator);

private:
    // Carries out one command; false for "stop".
    bool carryOut(const std::string& command, FlockSimulator& simulator);
    bool publish(const std::vector<std::uint8_t>& received);

    std::string directory_;
    std::uint64_t done_ = 0;
    bool published_ = false;
    std::uint64_t publishedDone_ = 0;
    std::uint64_t publishedChanges_ = 0;
};

}  // namespace flocksim
