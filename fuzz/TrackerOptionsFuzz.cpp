// Fuzz target: the tracker layer's option parser over an arbitrary
// configuration, then its settings report, the calibration library's calls
// and the sample transform of every tracker with the placements the options
// gave.
//
// The layer never reads the device line; here its arguments set the layer
// up the way a device would (every number optional):
//   name COUNT FIXEDORDER CAVE MAXOUTPUT OUTPUTOFFSET
// COUNT real trackers (1..126), FIXEDORDER and CAVE 0 or 1, MAXOUTPUT
// outputs (0..32) after OUTPUTOFFSET entries of earlier devices (kept within
// the storage's 32 entries). Tracker n is numbered n up to MAXOUTPUT.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "common/CLogH.h"
#include "kit/FuzzConfig.h"
#include "kit/HostStorage.h"
#include "kit/QuietOutput.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzkit::FuzzConfig config(data, size);
    config.redirectCalibrationLibraries(VANTREL_CALIB_TEST_PATH);
    const auto count = static_cast<std::uint32_t>(std::clamp(config.deviceNumber(0, 3), 1ul, 126ul));
    const unsigned long maxOutput = std::min(config.deviceNumber(3, 2), 32ul);

    CLogH deviceLog(kit::plainLogSettings("Fuzz"));
    deviceLog.debugLevel = 1;
    CTraCommonH layer(&deviceLog);
    layer.fixedOrder = config.deviceNumber(1, 1) != 0;
    layer.caveCoordinates = config.deviceNumber(2, 1) != 0;
    layer.maxOutputTrackers = static_cast<std::uint32_t>(maxOutput);
    layer.outputOffset = static_cast<std::uint32_t>(std::min(config.deviceNumber(4, 0), 32ul - maxOutput));
    layer.setUp(count);
    for (std::uint32_t n = 1; n <= count; ++n) {
        layer.setTracker(n, n <= maxOutput ? n : 0, nullptr, nullptr, nullptr);
    }
    if (!layer.parseOptions(config.block())) {
        return 0;
    }
    layer.printReport(layer.caveCoordinates);

    CCalibH* calib = layer.getCalibLibrary();
    if (calib != nullptr) {
        calib->callInit(layer.getCalibArguments(), static_cast<std::int32_t>(layer.getCalibArgCount()));
    }
    for (std::uint32_t n = 1; n <= count; ++n) {
        const TrackerMap* map = layer.getTrackerMap(n);
        if (map == nullptr || map->outputId > layer.maxOutputTrackers) {
            // Every real tracker has its settings, and no order line numbers
            // more outputs than the device reserved in the host's list.
            __builtin_trap();
        }
        TrackerPose pose{1.5f, -2.25f, 3.0f, 45.0f, -30.0f, 170.0f};
        if (calib != nullptr) {
            calib->callEvaluate(&pose);
        }
        layer.transformPose(*map, pose);
    }
    if (calib != nullptr) {
        calib->callExit();
    }
    return 0;
}
