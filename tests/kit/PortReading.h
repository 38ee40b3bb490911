#pragma once
// Host side of the test kit: reading what arrives on a serial port.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/SerialPort.h"

class CRS232H;

namespace kit {

// Reads until count bytes came or the line stayed quiet for the port's read
// time-out.
std::vector<std::uint8_t> readUntilQuiet(CRS232H& port, std::size_t count);

// The line settings of the simulator's tests: 38400 baud, 8 data bits, no
// parity, binary, no flow control, reads that wait up to readTimeoutMs.
platform::PortAttributes simulatorLine(std::uint32_t readTimeoutMs);

}  // namespace kit
