#include "Motion.h"

#include <cmath>
#include <utility>

namespace flocksim {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A pose in feet and degrees as the unit's words (full scale: 12 feet, 180
// degrees).
Sample poseSample(double x, double y, double z, double azimuth, double elevation, double roll)
{
    Sample sample;
    const double fractions[6] = {x / 12.0, y / 12.0, z / 12.0, azimuth / 180.0, elevation / 180.0, roll / 180.0};
    for (int i = 0; i < 6; ++i) {
        sample.words[static_cast<std::size_t>(i)] = wordFromFraction(fractions[i]);
    }
    return sample;
}

// The angle of a cycle within a period, in radians, with an offset in
// periods.
double phaseOf(std::uint64_t cycle, std::uint32_t period, double offset)
{
    const double cycles = period == 0 ? 1.0 : static_cast<double>(period);
    const double phase = static_cast<double>(cycle % static_cast<std::uint64_t>(cycles)) / cycles + offset;
    return 2.0 * kPi * (phase - std::floor(phase));
}

}  // namespace

Motion stillMotion(const Sample& sample)
{
    return [sample](std::uint32_t, std::uint64_t) { return sample; };
}

Motion circleMotion(double radius, std::uint32_t cyclesPerTurn)
{
    return [radius, cyclesPerTurn](std::uint32_t address, std::uint64_t cycle) {
        const double angle = phaseOf(cycle, cyclesPerTurn, address / 8.0);
        Sample sample;
        sample.words[0] = wordFromFraction(radius * std::cos(angle));
        sample.words[1] = wordFromFraction(radius * std::sin(angle));
        sample.words[2] = wordFromFraction(0.05 * address);
        // Facing along the path: azimuth 90 degrees ahead of the angle,
        // as a fraction of 180 degrees in -1 .. 1.
        double azimuth = angle / kPi + 0.5;
        if (azimuth > 1.0) {
            azimuth -= 2.0;
        }
        sample.words[3] = wordFromFraction(azimuth);
        return sample;
    };
}

Motion figureEightMotion(std::uint32_t cyclesPerLoop)
{
    return [cyclesPerLoop](std::uint32_t address, std::uint64_t cycle) {
        const double t = phaseOf(cycle, cyclesPerLoop, 0.29 * (address / 2));
        return poseSample(-2.5 + 3.0 * std::sin(t), 1.0 + 0.5 * std::cos(t), 3.5 + 1.5 * std::sin(2.0 * t),
                          70.0 * std::sin(t), 35.0 * std::sin(2.0 * t), 50.0 * std::cos(3.0 * t));
    };
}

Motion helixMotion(std::uint32_t cyclesPerTurn)
{
    return [cyclesPerTurn](std::uint32_t address, std::uint64_t cycle) {
        const double turn = phaseOf(cycle, cyclesPerTurn, 0.37 * (address / 2));
        // Rising and sinking, and the angles' swings, over three turns.
        const double slow = phaseOf(cycle, 3 * cyclesPerTurn, 0.0);
        // Facing along the path: the direction of (dx, dz) as an azimuth
        // (about Y, from Z towards X).
        const double heading = std::atan2(std::cos(turn), -std::sin(turn)) * 180.0 / kPi;
        return poseSample(3.0 + 2.5 * std::sin(turn), -0.5 + 1.5 * std::sin(slow), 4.0 + 2.5 * std::cos(turn), heading,
                          25.0 * std::sin(2.0 * slow), 40.0 * std::sin(5.0 * slow));
    };
}

Motion demoMotion()
{
    const Motion eight = figureEightMotion(600);
    const Motion helix = helixMotion(1000);
    return [eight, helix](std::uint32_t address, std::uint64_t cycle) {
        return address % 2 == 0 ? eight(address, cycle) : helix(address, cycle);
    };
}

Motion namedMotion(const std::string& name)
{
    if (name == "circle") {
        return circleMotion(0.5, 200);
    }
    if (name == "eight") {
        return figureEightMotion(600);
    }
    if (name == "helix") {
        return helixMotion(1000);
    }
    if (name == "demo") {
        return demoMotion();
    }
    return nullptr;
}

Motion withButtons(Motion motion, std::vector<ButtonStep> script)
{
    std::uint64_t length = 0;
    for (const ButtonStep& step : script) {
        length += step.cycles;
    }
    return [motion = std::move(motion), script = std::move(script), length](std::uint32_t address,
                                                                             std::uint64_t cycle) {
        Sample sample = motion ? motion(address, cycle) : Sample{};
        if (length > 0) {
            std::uint64_t at = cycle % length;
            for (const ButtonStep& step : script) {
                if (at < step.cycles) {
                    sample.buttons = step.buttons;
                    break;
                }
                at -= step.cycles;
            }
        }
        return sample;
    };
}

}  // namespace flocksim
