#pragma once
// Test kit: a tracker layer set up the way the device's init sets it up.
#include <cstdint>
#include <memory>

#include "common/CLogH.h"
#include "tracker/CTraCommonH.h"

namespace kit {

// busDevices real trackers; every address but ercId (0: none) published, in
// ascending order from output 1. Fixed order, CAVE coordinates on.
std::unique_ptr<CTraCommonH> makeTrackerLayer(const CLogH& log, std::uint32_t busDevices, std::uint32_t ercId);

}  // namespace kit
