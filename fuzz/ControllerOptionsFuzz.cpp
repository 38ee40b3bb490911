// Fuzz target: the controller layer's option parser over an arbitrary
// configuration, then its report and the controller records it fills for
// every button state of every controller.
//
// The layer never reads the device line; here its arguments set the layer
// up the way a device would (every number optional):
//   name COUNT LIMITIDS FIXEDORDER MAXOUTPUT OUTPUTOFFSET VALUATORS BUTTONS
// COUNT real controllers (1..126), LIMITIDS and FIXEDORDER 0 or 1, MAXOUTPUT
// outputs (0..32) after OUTPUTOFFSET entries of earlier devices (kept within
// the storage's 32 entries); controller n is numbered n up to MAXOUTPUT and
// has VALUATORS valuators and BUTTONS buttons (0..32 each).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "common/CLogH.h"
#include "common/DataRecords.h"
#include "controller/CConCommonH.h"
#include "kit/FuzzConfig.h"
#include "kit/HostStorage.h"
#include "kit/QuietOutput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzkit::FuzzConfig config(data, size);
    const auto count = static_cast<std::uint32_t>(std::clamp(config.deviceNumber(0, 3), 1ul, 126ul));
    const unsigned long maxOutput = std::min(config.deviceNumber(3, 1), 32ul);
    const auto valuators = static_cast<std::uint32_t>(std::min(config.deviceNumber(5, 0), 32ul));
    const auto buttons = static_cast<std::uint32_t>(std::min(config.deviceNumber(6, 3), 32ul));

    CLogH deviceLog(kit::plainLogSettings("Fuzz"));
    deviceLog.debugLevel = 1;
    CConCommonH layer(&deviceLog);
    layer.fixedOrder = config.deviceNumber(2, 1) != 0;
    layer.maxOutputControllers = static_cast<std::uint32_t>(maxOutput);
    layer.outputOffset = static_cast<std::uint32_t>(std::min(config.deviceNumber(4, 0), 32ul - maxOutput));
    layer.setUp(count, config.deviceNumber(1, 1) != 0);
    for (std::uint32_t n = 1; n <= count; ++n) {
        layer.setController(n, n <= maxOutput ? n : 0, valuators, buttons);
    }
    if (!layer.parseOptions(config.block())) {
        return 0;
    }
    layer.printReport();

    const std::uint8_t buttonBytes[] = {0x00, 0x10, 0x30, 0x70, 0xFF};
    for (std::uint32_t n = 1; n <= count; ++n) {
        for (std::uint8_t byte : buttonBytes) {
            ControllerData record;
            resetControllerData(record);
            layer.fillControllerRecord(n, byte, record);
        }
    }
    return 0;
}
