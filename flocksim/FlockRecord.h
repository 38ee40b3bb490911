#pragma once
// The position/angles record that a unit streams, and its 16-bit words.
#include <array>
#include <cstddef>
#include <cstdint>

namespace flocksim {

// What one unit reports in one measurement cycle: X, Y, Z, azimuth,
// elevation, roll as signed words (full scale = 32767), and the button byte
// of its mouse (0x00 none, 0x10, 0x30, 0x70 buttons 1 to 3).
struct Sample {
    std::array<std::int16_t, 6> words{};
    std::uint8_t buttons = 0;
};

// A record is at most 14 bytes: 12 word bytes, the button byte, the address.
constexpr std::size_t kMaxRecordLength = 14;

// The word for a fraction of full scale (-1 .. 1), its two lowest bits clear
// as on the line.
std::int16_t wordFromFraction(double fraction);

// The word that a low/high byte pair carries.
std::int16_t wordFromBytes(std::uint8_t low, std::uint8_t high);

// Writes the record into out and returns its length: 12 word bytes (phasing
// bit in the first), then the button byte when withButtons, then the bus
// address when address is not 0 (group mode).
std::size_t encodeRecord(const Sample& sample, bool withButtons, std::uint32_t address,
                         std::uint8_t (&out)[kMaxRecordLength]);

}  // namespace flocksim
