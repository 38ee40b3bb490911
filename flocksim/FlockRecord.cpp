#include "FlockRecord.h"

#include <cmath>

namespace flocksim {

std::int16_t wordFromFraction(double fraction)
{
    if (fraction > 1.0) {
        fraction = 1.0;
    } else if (fraction < -1.0) {
        fraction = -1.0;
    }
    const long value = std::lround(fraction * 32767.0);
    return static_cast<std::int16_t>(value & ~3L);
}

std::int16_t wordFromBytes(std::uint8_t low, std::uint8_t high)
{
    const auto word = static_cast<std::uint16_t>(((high & 0x7Fu) << 9) | ((low & 0x7Fu) << 2));
    return static_cast<std::int16_t>(word);
}

std::size_t encodeRecord(const Sample& sample, bool withButtons, std::uint32_t address,
                         std::uint8_t (&out)[kMaxRecordLength])
{
    std::size_t length = 0;
    for (const std::int16_t word : sample.words) {
        const auto bits = static_cast<std::uint16_t>(word);
        out[length++] = static_cast<std::uint8_t>((bits >> 2) & 0x7Fu);
        out[length++] = static_cast<std::uint8_t>((bits >> 9) & 0x7Fu);
    }
    out[0] |= 0x80u;
    if (withButtons) {
        out[length++] = static_cast<std::uint8_t>(sample.buttons & 0x7Fu);
    }
    if (address != 0) {
        out[length++] = static_cast<std::uint8_t>(address & 0x7Fu);
    }
    return length;
}

}  // namespace flocksim
