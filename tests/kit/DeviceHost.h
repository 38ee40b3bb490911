#pragma once
// Host side of the test kit: one device object built the way createDev
// builds it, with the host records it needs (configuration, logger settings,
// storages with real mutexes, run flag and update masks).
#include <cstdint>
#include <memory>
#include <string>

#include "driver/CVantrel.h"
#include "kit/ConfigText.h"
#include "kit/HostRecords.h"

namespace kit {

class DeviceHost {
public:
    // text: the device's configuration; debugLevel 0 keeps DEBUG lines out.
    explicit DeviceHost(const std::string& text, std::int32_t debugLevel = 0);
    // With logger settings of the test's own.
    DeviceHost(const std::string& text, const LogSettings& settings);
    ~DeviceHost();

    CVantrel& device() { return *device_; }
    ConfigText& config() { return config_; }
    InitInfo& initInfo() { return records_.info; }
    HostStorage& trackers() { return records_.trackers; }
    HostStorage& controllers() { return records_.controllers; }
    std::int32_t& runFlag() { return records_.runFlag; }
    UpdateMasks& masks() { return masks_; }

    // init with every storage in place.
    std::int32_t init() { return device_->init(&records_.info); }
    std::int32_t receive() { return device_->recvData(&masks_, nullptr); }

private:
    ConfigText config_;
    LogSettings settings_;
    HostRecords records_;
    UpdateMasks masks_{};
    std::unique_ptr<CVantrel> device_;
};

}  // namespace kit
