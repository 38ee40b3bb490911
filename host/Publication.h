#pragma once
// Publication of a run's samples beyond the host process, as its options ask:
// the storages in named shared memory (--shm NAME) and OSC bundles over UDP
// (--osc HOST:PORT, Linux). The device threads hand every received record to
// both (RecordListener).
#include <memory>
#include <string>
#include <vector>

#include "DeviceRunner.h"
#include "HostRun.h"
#include "SharedStorages.h"
#include "common/CLogH.h"

class OscPublisher;

namespace host {

class Publication {
public:
    Publication();
    ~Publication();
    Publication(const Publication&) = delete;
    Publication& operator=(const Publication&) = delete;

    // Creates the shared storages block and opens the OSC sender. False with
    // the reason (also for --osc in a build without liblo).
    bool open(const RunOptions& options, const LogSettings& log, std::string& error);

    // The shared block's storages, whose lists, counts and mutex the host's
    // storages use; null without --shm.
    SharedStorages* shared() { return shared_.get(); }

    // After every device's init: the devices enter the shared table and get
    // their OSC addresses, and each runner hands its records to both.
    void begin(const std::vector<DeviceInfo>& devices, const std::vector<std::unique_ptr<DeviceRunner>>& runners);

    // After the devices have stopped: the block is marked ended (a watcher
    // ends too) and the OSC figures are said on standard error.
    void finish();

private:
    CLogH log_;
    std::unique_ptr<SharedStorages> shared_;
    std::unique_ptr<OscPublisher> osc_;
};

}  // namespace host
