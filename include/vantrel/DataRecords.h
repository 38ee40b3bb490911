#pragma once
// Entry records of the host's shared data storages. Every 32-bit field but
// `buttonBytes` and the time record is in network byte order (big-endian), so
// that any reader of the storage sees the same bytes.
#include <cstddef>
#include <cstdint>

// The C runtime's time-of-day record, host byte order.
struct TimeRecord {
    std::uint32_t seconds;         // since 1970-01-01 UTC
    std::uint16_t milliseconds;
    std::int16_t timezoneMinutes;  // minutes west of UTC
    std::int16_t daylight;         // daylight-saving flag
    std::uint16_t padding;
};

struct TrackerData {
    std::uint32_t storageIndex;        // 1-based entry index in the tracker list
    std::uint32_t reserved0;
    std::uint32_t sampleSeconds;
    std::uint32_t sampleMicroseconds;  // milliseconds x 1000
    std::uint32_t reserved1;
    std::int32_t pose[6];              // x, y, z (feet), azimuth, elevation, roll (degrees), all x 100000
    TimeRecord timeRecord;
};

constexpr std::uint32_t kMaxValuators = 32;
constexpr std::uint32_t kMaxButtons = 32;

struct ControllerData {
    std::uint32_t storageIndex;        // 1-based entry index in the controller list
    std::uint32_t reserved0;
    std::uint32_t sampleSeconds;
    std::uint32_t sampleMicroseconds;
    std::uint32_t reserved1;
    std::uint32_t valuatorCount;       // 0..32
    std::uint32_t buttonCount;         // 0..32
    std::uint32_t valuatorOffset;      // always 36
    std::uint32_t buttonOffset;        // 36 + 4 x valuator count
    std::int32_t valuators[kMaxValuators];  // value x 1000
    std::uint8_t buttonBits[4];        // button n is bit (n-1) mod 8 of byte (n-1) div 8
    std::uint32_t buttonBytes;         // host byte order, 4
    TimeRecord timeRecord;
};

// The two masks that recvData fills, network byte order: bit ID-1 names the
// output tracker (controller) with that ID.
struct UpdateMasks {
    std::uint32_t trackerMask;
    std::uint32_t controllerMask;
};

static_assert(sizeof(TimeRecord) == 12, "TimeRecord must be 12 bytes");
static_assert(sizeof(TrackerData) == 56, "TrackerData must be 56 bytes");
static_assert(offsetof(TrackerData, pose) == 20, "TrackerData layout");
static_assert(offsetof(TrackerData, timeRecord) == 44, "TrackerData layout");
static_assert(sizeof(ControllerData) == 184, "ControllerData must be 184 bytes");
static_assert(offsetof(ControllerData, valuators) == 36, "ControllerData layout");
static_assert(offsetof(ControllerData, buttonBits) == 164, "ControllerData layout");
static_assert(offsetof(ControllerData, buttonBytes) == 168, "ControllerData layout");
static_assert(offsetof(ControllerData, timeRecord) == 172, "ControllerData layout");
static_assert(sizeof(UpdateMasks) == 8, "UpdateMasks must be 8 bytes");
