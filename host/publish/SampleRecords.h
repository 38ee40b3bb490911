#pragma once
// A storage entry (fields in network byte order) as the publishers'
// HostSample. The device threads convert what they read from the storages,
// and `watch` what it reads from another host's journal, in the same way.
#include <cstdint>

#include "Publisher.h"
#include "vantrel/DataRecords.h"

namespace host {

void trackerSample(const TrackerData& entry, std::uint32_t device, std::uint32_t id, HostSample& sample);
void controllerSample(const ControllerData& entry, std::uint32_t device, std::uint32_t id, HostSample& sample);

// A 32-bit field of a storage entry (network byte order) in host order, and
// a value in host order as such a field.
std::uint32_t fromNetworkOrder(std::uint32_t value);
inline std::uint32_t toNetworkOrder(std::uint32_t value)
{
    return fromNetworkOrder(value);  // the same exchange of bytes either way
}

}  // namespace host
