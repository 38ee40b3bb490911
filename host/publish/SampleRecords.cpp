#include "SampleRecords.h"

#include <cstring>


namespace host {

namespace {

// The fields that both kinds of entry begin with.
template <typename Entry>
void takeHeader(const Entry& entry, std::uint32_t device, std::uint32_t id, bool tracker, HostSample& sample)
{
    sample.seconds = fromNetworkOrder(entry.sampleSeconds);
    sample.microseconds = fromNetworkOrder(entry.sampleMicroseconds);
    sample.device = device;
    sample.id = id;
    sample.tracker = tracker;
}

}  // namespace

void trackerSample(const TrackerData& entry, std::uint32_t device, std::uint32_t id, HostSample& sample)
{
    takeHeader(entry, device, id, true, sample);
    for (int i = 0; i < 6; ++i) {
        sample.pose[i] = static_cast<std::int32_t>(fromNetworkOrder(static_cast<std::uint32_t>(entry.pose[i])));
    }
}

void controllerSample(const ControllerData& entry, std::uint32_t device, std::uint32_t id, HostSample& sample)
{
    takeHeader(entry, device, id, false, sample);
    // No more than the bits hold, whatever the entry says (an entry of
    // another process's block included).
    const std::uint32_t count = fromNetworkOrder(entry.buttonCount);
    sample.buttonCount = count > 32 ? 32 : count;
    std::memcpy(sample.buttonBits, entry.buttonBits, sizeof sample.buttonBits);
}

std::uint32_t fromNetworkOrder(std::uint32_t value)
{
    std::uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

}  // namespace host
