#pragma once
// Fuzz kit: the device configuration that a byte-stream input runs under,
// chosen by the input's first byte. Bit 0: an SRT on unit 1 instead of the
// ERC at address 1; bit 1: the 72-inch scale; bit 2: a mouse on unit 2;
// bit 3: a transmitter and sensor placement; bit 4: the line fails once its
// bytes are used up, instead of going quiet. Two tracker units either way.
#include <cstdint>
#include <string>

namespace fuzzkit {

struct StreamSetup {
    explicit StreamSetup(std::uint8_t choice);

    // The configuration text (device line and options) with the given port.
    std::string configText(const char* port) const;

    bool srt = false;
    bool longRange = false;
    bool mouse = false;
    bool placement = false;
    bool lineFails = false;
};

}  // namespace fuzzkit
