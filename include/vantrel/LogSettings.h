#pragma once
// The logger record that a host hands to createDev. Every logger of the module
// (class CLogH) has exactly this layout, so the host's settings can be taken
// over as a plain byte copy.
#include <cstdint>

struct LogSettings {
    std::uint8_t showDate;      // nonzero: the header begins with month and day
    std::uint8_t showTime;      // nonzero: the header contains the local time
    std::uint8_t showThreadId;  // nonzero: the header contains the caller's thread id
    std::uint8_t enabled;       // zero: nothing is written at all
    char moduleName[100];       // zero-terminated, written at the start of each line
    char levelWords[4][100];    // INFO, ERROR, WARNING, DEBUG
    std::int32_t debugThreshold;  // DEBUG lines of every category pass at or above it
    std::int32_t debugLevel;      // 0 switches DEBUG lines off
    std::uint32_t debugCategory;  // category of the owning object
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(LogSettings) == 516, "LogSettings must be 516 bytes");
static_assert(offsetof(LogSettings, moduleName) == 4, "LogSettings layout");
static_assert(offsetof(LogSettings, levelWords) == 104, "LogSettings layout");
static_assert(offsetof(LogSettings, debugThreshold) == 504, "LogSettings layout");
static_assert(offsetof(LogSettings, debugLevel) == 508, "LogSettings layout");
static_assert(offsetof(LogSettings, debugCategory) == 512, "LogSettings layout");
#endif
