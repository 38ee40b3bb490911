#include "kit/TrackerLayer.h"

namespace kit {

std::unique_ptr<CTraCommonH> makeTrackerLayer(const CLogH& log, std::uint32_t busDevices, std::uint32_t ercId)
{
    auto layer = std::make_unique<CTraCommonH>(&log);
    layer->fixedOrder = true;
    layer->maxOutputTrackers = ercId != 0 ? busDevices - 1 : busDevices;
    layer->caveCoordinates = true;
    layer->setUp(busDevices);
    std::uint32_t output = 0;
    for (std::uint32_t address = 1; address <= busDevices; ++address) {
        if (address != ercId) {
            layer->setTracker(address, ++output, nullptr, nullptr, nullptr);
        }
    }
    return layer;
}

}  // namespace kit
