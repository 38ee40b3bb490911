#pragma once
// Fuzz kit: the bytes on a serial line that exists only in the fuzz target
// that links FuzzSerialPort.cpp, the seam that stands in for the system's
// serial ports there (and nowhere else). Reads take the bytes in order;
// when they are used up a read times out at once, or fails when the line is
// set to fail then.
#include <cstddef>
#include <cstdint>

namespace fuzzkit {

class FuzzLine {
public:
    static void load(const std::uint8_t* data, std::size_t size, bool failWhenEmpty);
    static bool empty();

    // The operations of the seam.
    static bool read(void* buffer, std::uint32_t count, std::uint32_t& got);
    static void discard();
};

}  // namespace fuzzkit
