#include "Motion.h"

#include <cmath>
#include <utility>

namespace flocksim {

Motion stillMotion(const Sample& sample)
{
    return [sample](std::uint32_t, std::uint64_t) { return sample; };
}

Motion circleMotion(double radius, std::uint32_t cyclesPerTurn)
{
    const double turn = cyclesPerTurn == 0 ? 1.0 : static_cast<double>(cyclesPerTurn);
    return [radius, turn](std::uint32_t address, std::uint64_t cycle) {
        const double pi = 3.14159265358979323846;
        const double phase = static_cast<double>(cycle % static_cast<std::uint64_t>(turn)) / turn + address / 8.0;
        const double angle = 2.0 * pi * (phase - std::floor(phase));
        Sample sample;
        sample.words[0] = wordFromFraction(radius * std::cos(angle));
        sample.words[1] = wordFromFraction(radius * std::sin(angle));
        sample.words[2] = wordFromFraction(0.05 * address);
        // Facing along the path: azimuth 90 degrees ahead of the angle,
        // as a fraction of 180 degrees in -1 .. 1.
        double azimuth = angle / pi + 0.5;
        if (azimuth > 1.0) {
            azimuth -= 2.0;
        }
        sample.words[3] = wordFromFraction(azimuth);
        return sample;
    };
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
