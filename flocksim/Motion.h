#pragma once
// Ready-made motions and button scripts for the simulated units.
#include <cstdint>
#include <string>
#include <vector>

#include "FlockSetup.h"

namespace flocksim {

// Every unit reports the same sample in every cycle.
Motion stillMotion(const Sample& sample);

// Each unit moves on a circle of radius (fraction of full scale) in the X/Y
// plane, once per cyclesPerTurn cycles, facing along its path; units are
// spread over the circle by their bus address and stacked in Z.
Motion circleMotion(double radius, std::uint32_t cyclesPerTurn);

// Each unit on a figure of eight lying in the X/Z plane in front of the
// transmitter (Z > 0) and to its left (X < 0, mostly), at a height (Y) that
// swings with it, once per
// cyclesPerLoop cycles; azimuth, elevation and roll swing smoothly, each with
// a period of its own. Units are spread along the path by their bus address.
Motion figureEightMotion(std::uint32_t cyclesPerLoop);

// Each unit on a helix about an axis parallel to Y, in front of the
// transmitter (Z > 0) and to its right (X > 0):
// once round per cyclesPerTurn cycles, facing along its path (the azimuth
// goes all the way round), while it rises and sinks over three turns;
// elevation and roll swing smoothly. Units are spread round by their bus
// address.
Motion helixMotion(std::uint32_t cyclesPerTurn);

// The demo's flock: a figure of eight (once in 6 s at 100 cycles a second)
// for the units at even bus addresses and a slow helix (once round in 10 s)
// for those at odd ones, so that every degree of freedom of every sensor
// changes all the time.
Motion demoMotion();

// A motion by its name, as the demo and flocksim --motion take it: circle,
// eight, helix or demo (the periods as above; circle once in 2 s). Null for
// any other name.
Motion namedMotion(const std::string& name);

struct ButtonStep {
    std::uint8_t buttons;  // the button byte
    std::uint32_t cycles;  // for how many cycles
};

// The motion with the button byte taken from the script, which repeats.
Motion withButtons(Motion motion, std::vector<ButtonStep> script);

}  // namespace flocksim
