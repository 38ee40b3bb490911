// Fuzz target: recvData of a whole device over a serial line whose bytes are
// the fuzz input. The line is the fuzz kit's seam (kit/FuzzSerialPort.cpp,
// linked into this target only), so init opens it like a port and every
// read takes the input's next bytes. The first byte chooses the
// configuration (kit/StreamSetup.h), the rest is the line.
//
// Checked: recvData returns 1 or -1 only, -1 only once the line has failed;
// the update masks name only output numbers the device reserved; the
// storages keep the counts init gave them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/CVantrel.h"
#include "kit/FuzzConfig.h"
#include "kit/FuzzLine.h"
#include "kit/HostRecords.h"
#include "kit/QuietOutput.h"
#include "kit/StreamSetup.h"

namespace {

void check(bool holds)
{
    if (!holds) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const fuzzkit::StreamSetup setup(data[0]);
    const std::string text = setup.configText("fuzz-line");
    fuzzkit::FuzzConfig config(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());

    LogSettings settings = kit::plainLogSettings("Fuzz");
    settings.debugLevel = 1;  // DEBUG lines are written too
    kit::HostRecords records;

    fuzzkit::FuzzLine::load(data + 1, size - 1, setup.lineFails);
    CVantrel device(config.block(), &settings);
    check(device.init(&records.info) == 1);
    const std::uint32_t trackerCount = records.trackers.count();
    const std::uint32_t controllerCount = records.controllers.count();
    const std::uint32_t trackerIds = trackerCount >= 32 ? 0xFFFFFFFFu : (1u << trackerCount) - 1u;
    const std::uint32_t controllerIds = controllerCount >= 32 ? 0xFFFFFFFFu : (1u << controllerCount) - 1u;

    // Every call takes at least one byte or ends with the line: the input
    // bounds the number of calls.
    for (std::size_t call = 0; call <= size; ++call) {
        UpdateMasks masks{};
        const std::int32_t result = device.recvData(&masks, nullptr);
        check(result == 1 || result == -1);
        check((fromNetwork32(masks.trackerMask) & ~trackerIds) == 0);
        check((fromNetwork32(masks.controllerMask) & ~controllerIds) == 0);
        if (result == -1) {
            check(setup.lineFails && fuzzkit::FuzzLine::empty());
            break;
        }
        if (fuzzkit::FuzzLine::empty() && !setup.lineFails) {
            break;
        }
    }
    check(records.trackers.count() == trackerCount && records.controllers.count() == controllerCount);
    return 0;
}
