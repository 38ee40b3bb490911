#pragma once
// Helpers for the storage entry records: their initial state and the
// network byte order of their fields.
#include <cstdint>

#include "vantrel/DataRecords.h"

// Bytes 0..43 zero, and the rest too until a sample fills it.
void resetTrackerData(TrackerData& record);
// All zero but buttonBytes, which is 4.
void resetControllerData(ControllerData& record);

// Host value to network byte order and back (big-endian on the wire).
inline std::uint32_t toNetwork32(std::uint32_t value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

inline std::uint32_t fromNetwork32(std::uint32_t value)
{
    return toNetwork32(value);
}
