#pragma once
// Fuzz kit: the ConfigBlock that a host would hand to a device, built from
// arbitrary fuzz bytes within the host's invariants (at most 32 option lines,
// at most 64 arguments per line, every counted string valid and
// zero-terminated, every consumed byte 0).
//
// The bytes are read as text: lines end at '\n', words are separated by
// blanks, tabs and zero bytes; every other byte, control characters and bytes
// above 127 included, belongs to a word. The first line with a word is the
// device line (name, then arguments), every further line with a word an option
// line (keyword, then arguments), numbered by its line in the text. Lines past
// the limit and arguments past 64 are left out, as a host that keeps to the
// invariants would. So the seed inputs are configuration texts.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "vantrel/ConfigBlock.h"

namespace fuzzkit {

class FuzzConfig {
public:
    // reservedLines: option lines kept free for appendLine.
    FuzzConfig(const std::uint8_t* data, std::size_t size, std::uint32_t reservedLines = 0);
    FuzzConfig(const FuzzConfig&) = delete;
    FuzzConfig& operator=(const FuzzConfig&) = delete;

    ConfigBlock* block() { return &block_; }

    // The device line's argument i read as an unsigned number (strtoul, base
    // 0), or fallback when there is none. The layer targets take their set-up
    // from the device line this way; the layers never read it.
    unsigned long deviceNumber(std::uint32_t index, unsigned long fallback) const;

    // Adds an option line after the others (only into reserved room).
    void appendLine(const char* keyword, const char* argument);

    // The calibration lines ("calibration", "calib") name a library of the
    // fuzz kit instead of one of the system: the name "testcalib" (any case)
    // becomes testLibraryPath, every other name a path that cannot exist,
    // so that no input makes the layer load whatever library the system
    // holds. The arguments after the name stay as they were.
    void redirectCalibrationLibraries(const char* testLibraryPath);

private:
    const char* keep(std::string text);

    std::deque<std::string> strings_;
    ConfigBlock block_{};
};

}  // namespace fuzzkit
