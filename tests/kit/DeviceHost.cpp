#include "kit/DeviceHost.h"

namespace kit {

DeviceHost::DeviceHost(const std::string& text, std::int32_t debugLevel)
    : DeviceHost(text, [debugLevel] {
          LogSettings settings = plainLogSettings("Dev");
          settings.debugLevel = debugLevel;
          return settings;
      }())
{
}

DeviceHost::DeviceHost(const std::string& text, const LogSettings& settings) : config_(text), settings_(settings)
{
    device_.reset(new CVantrel(config_.block(), &settings_));
    // Commands pause a hundredth of their time here; the shipped module
    // always pauses in full.
    device_->setPauseDivisor(100);
}

DeviceHost::~DeviceHost() = default;

}  // namespace kit
