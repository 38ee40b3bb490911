#pragma once
// The far end of a serial line for tests of the port: a flock simulator.
// When VANTREL_TEST_PORT names a port (with-flocksim.sh sets it; under Wine
// this is the only way, the simulator runs natively beside the test
// program), the tests talk to that one. Otherwise, natively, a simulator
// runs in this process on a pseudo-terminal of its own.
#include <memory>
#include <string>

#if !defined(_WIN32)
#include "FlockSimulator.h"
#endif

namespace kit {

class LinePartner {
public:
    LinePartner();
    ~LinePartner();
    LinePartner(const LinePartner&) = delete;
    LinePartner& operator=(const LinePartner&) = delete;

    // False when there is no partner (a Windows test program started
    // without with-flocksim.sh); problem() then says why.
    bool available() const { return !portName_.empty(); }
    const std::string& problem() const { return problem_; }
    // The name the port under test opens.
    const std::string& portName() const { return portName_; }

#if !defined(_WIN32)
    // The simulator in this process; null when the partner runs outside.
    flocksim::FlockSimulator* simulator() { return simulator_.get(); }
#endif

private:
    std::string portName_;
    std::string problem_;
#if !defined(_WIN32)
    std::unique_ptr<flocksim::FlockSimulator> simulator_;
#endif
};

}  // namespace kit
