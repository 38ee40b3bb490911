#pragma once
// Ready-made motions and button scripts for the simulated units.
#include <cstdint>
#include <vector>

#include "FlockSetup.h"

namespace flocksim {

// Every unit reports the same sample in every cycle.
Motion stillMotion(const Sample& sample);

// Each unit moves on a circle of radius (fraction of full scale) in the X/Y
// plane, once per cyclesPerTurn cycles, facing along its path; units are
// spread over the circle by their bus address and stacked in Z.
Motion circleMotion(double radius, std::uint32_t cyclesPerTurn);

struct ButtonStep {
    std::uint8_t buttons;  // the button byte
    std::uint32_t cycles;  // for how many cycles
};

// The motion with the button byte taken from the script, which repeats.
Motion withButtons(Motion motion, std::vector<ButtonStep> script);

}  // namespace flocksim
