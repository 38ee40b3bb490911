#pragma once
// Host side of the test kit: reading what arrives on a serial port.
#include <cstddef>
#include <cstdint>
#include <vector>

class CRS232H;

namespace kit {

// Reads until count bytes came or the line stayed quiet for the port's read
// time-out.
std::vector<std::uint8_t> readUntilQuiet(CRS232H& port, std::size_t count);

}  // namespace kit
