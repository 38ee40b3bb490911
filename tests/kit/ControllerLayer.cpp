#include "kit/ControllerLayer.h"

#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace kit {

std::unique_ptr<CConCommonH> makeMouseLayer(std::uint32_t busDeviceCount,
                                            std::initializer_list<std::uint32_t> mouseUnits,
                                            const LogSettings& deviceLogSettings)
{
    const CLogH deviceLog(deviceLogSettings);
    auto layer = std::make_unique<CConCommonH>(&deviceLog);
    layer->maxOutputControllers = static_cast<std::uint32_t>(mouseUnits.size());
    layer->setUp(busDeviceCount, true);
    std::uint32_t output = 0;
    for (std::uint32_t unit : mouseUnits) {
        layer->setController(unit, ++output, 0, 3);
    }
    return layer;
}

std::unique_ptr<CConCommonH> makeMouseLayer(std::uint32_t busDeviceCount,
                                            std::initializer_list<std::uint32_t> mouseUnits)
{
    return makeMouseLayer(busDeviceCount, mouseUnits, plainLogSettings("Dev"));
}

ParseRun parseControllerOptions(CConCommonH& layer, const std::string& options)
{
    ConfigText config("Vantrel 3\n" + options);
    ParseRun run;
    StdoutCapture capture;
    run.result = layer.parseOptions(config.block());
    run.output = capture.lines();
    run.consumed = config.consumedCount();
    return run;
}

}  // namespace kit
