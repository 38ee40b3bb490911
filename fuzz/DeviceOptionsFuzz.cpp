// Fuzz target: the device's init over an arbitrary configuration (the device
// line, the device options, the tracker layer's and, with mice, the
// controller layer's options, the check for unknown options and the status
// report that init prints), with real storages guarded by real mutexes.
//
// The last option line always names a port that cannot exist, and a later
// port line wins over earlier ones: init does everything up to opening the
// port, and then fails there, so no input reaches a serial line of the
// machine. Calibration lines load the kit's test library or nothing (see
// FuzzConfig).
#include <cstddef>
#include <cstdint>

#include "driver/CVantrel.h"
#include "kit/FuzzConfig.h"
#include "kit/HostRecords.h"
#include "kit/QuietOutput.h"

namespace {

const char* const kMissingPort = "/nonexistent/vantrel-fuzz-port";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzkit::FuzzConfig config(data, size, 1);
    config.redirectCalibrationLibraries(VANTREL_CALIB_TEST_PATH);
    config.appendLine("port", kMissingPort);

    LogSettings settings = kit::plainLogSettings("Fuzz");
    settings.debugLevel = 1;  // DEBUG lines are written too
    kit::HostRecords records;

    auto* device = new CVantrel(config.block(), &settings);
    const std::int32_t result = device->init(&records.info);
    if (result != -1) {
        // Only the port can end init here, and it does not exist.
        __builtin_trap();
    }
    // The ranges that init reserved stay within the storages.
    if (records.trackers.count() > kStorageCapacity || records.controllers.count() > kStorageCapacity) {
        __builtin_trap();
    }
    delete device;
    return 0;
}
