#pragma once
// The other way round: the flocksim options under which the program builds
// a given flock, for a simulator that runs in a process of its own. Plain
// data travels; a motion function does not.
#include <string>
#include <vector>

#include "FlockSetup.h"

namespace flocksim {

std::vector<std::string> setupOptions(const Setup& setup);

}  // namespace flocksim
