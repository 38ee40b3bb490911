#include "Publication.h"

#include <iostream>

#if defined(VANTREL_HAS_OSC)
#include "OscPublisher.h"
#else
class OscPublisher {};
#endif

namespace host {

Publication::Publication() = default;

Publication::~Publication()
{
    finish();
}

bool Publication::open(const RunOptions& options, const LogSettings& log, std::string& error)
{
    log_ = CLogH(log);
    if (!options.osc.empty()) {
#if defined(VANTREL_HAS_OSC)
        osc_ = std::make_unique<OscPublisher>();
        if (!osc_->open(options.osc, options.oscHops, error)) {
            osc_.reset();
            return false;
        }
#else
        error = "--osc is not available in this build: it has no OSC library (liblo)";
        return false;
#endif
    }
    if (!options.shm.empty()) {
        shared_ = std::make_unique<SharedStorages>();
        if (!shared_->create(options.shm, &log_, error)) {
            shared_.reset();
            return false;
        }
    }
    return true;
}

void Publication::begin(const std::vector<DeviceInfo>& devices,
                        const std::vector<std::unique_ptr<DeviceRunner>>& runners)
{
    for (const DeviceInfo& device : devices) {
        if (shared_) {
            shared_->addDevice(device.name.c_str(), device.firstTracker, device.trackerCount, device.firstController,
                               device.controllerCount);
        }
#if defined(VANTREL_HAS_OSC)
        if (osc_) {
            osc_->addDevice(device.name, device.firstTracker, device.trackerCount, device.firstController,
                            device.controllerCount);
        }
#endif
    }
    for (const auto& runner : runners) {
        if (shared_) {
            runner->addListener(shared_.get());
        }
#if defined(VANTREL_HAS_OSC)
        if (osc_) {
            runner->addListener(osc_.get());
        }
#endif
    }
    if (shared_) {
        shared_->setRunning();
    }
}

void Publication::finish()
{
    if (shared_) {
        shared_->close();
    }
#if defined(VANTREL_HAS_OSC)
    if (osc_) {
        std::cout.flush();
        std::cerr << "vantrel-host: OSC: " << osc_->sent() << " bundles sent, " << osc_->dropped()
                  << " dropped (socket buffer full or no receiver), " << osc_->failed() << " failed" << std::endl;
        osc_.reset();
    }
#endif
}

}  // namespace host
