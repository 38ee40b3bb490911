#include "kit/LinePartner.h"

#include <cstdlib>

namespace kit {

LinePartner::LinePartner()
{
    const char* name = std::getenv("VANTREL_TEST_PORT");
    if (name != nullptr && *name != '\0') {
        portName_ = name;
        return;
    }
#if defined(_WIN32)
    problem_ = "no serial partner: VANTREL_TEST_PORT is not set (run the program with with-flocksim.sh)";
#else
    // The flock that with-flocksim.sh starts by default: two units, an ERC
    // at address 1 and a receiver at 2.
    simulator_ = std::make_unique<flocksim::FlockSimulator>(flocksim::Setup::flock(2, 1));
    if (simulator_->start(problem_)) {
        portName_ = simulator_->linePath();
    }
#endif
}

LinePartner::~LinePartner() = default;

}  // namespace kit
