#pragma once
// One device of a run: its library, the device object that createDev made,
// the records the host passes to it, its run flag, and the loop of its
// thread, which calls recvData while the flag is set and hands what each call
// published to the run's publishers.
#include <atomic>
#include <cstdint>
#include <string>

#include "ConfigFile.h"
#include "HostStorage.h"
#include "ModuleLibrary.h"
#include "publish/Publisher.h"
#include "vantrel/CBase.h"

namespace host {

class DeviceRunner {
public:
    // config and the storages must outlive the runner.
    DeviceRunner(DeviceConfig& config, std::uint32_t index, HostStorage& trackers, HostStorage& controllers);
    // Calls stop when the device was initialised and not yet stopped, then
    // deleteDev.
    ~DeviceRunner();
    DeviceRunner(const DeviceRunner&) = delete;
    DeviceRunner& operator=(const DeviceRunner&) = delete;

    // Loads the library and finds createDev and deleteDev. False with the
    // reason (naming the file and the device line).
    bool load(const ConfigFile& file, std::string& error);
    // createDev with the device's ConfigBlock and the logger settings.
    bool create(const LogSettings& log);
    // init with both storages and the run flag; on success info() tells
    // which entries the device took.
    bool init();
    bool configure();
    bool start();
    // Clears the run flag: recvData returns within its read time-out.
    void requestStop() { runFlag_.store(0); }
    // The thread's loop; returns when the flag is cleared or recvData keeps
    // failing (failed() then tells). The publisher is called from this
    // thread (the run's Publishers take any thread).
    void receive(Publisher& publisher);

    // stop, once, for an initialised device.
    bool stop();

    const DeviceInfo& info() const { return info_; }
    const DeviceConfig& config() const { return config_; }
    bool failed() const { return failed_; }

    // recvData failures in a row after which the device's loop gives up.
    static constexpr std::uint32_t kFailureLimit = 100;

private:
    // Copies the entries that recvData marked, under their storage's mutex,
    // and converts them after unlocking.
    void take(const UpdateMasks& masks);

    DeviceConfig& config_;
    std::uint32_t index_;
    HostStorage& trackers_;
    HostStorage& controllers_;
    std::unique_ptr<ModuleLibrary> library_;
    CreateDevFunction createDev_ = nullptr;
    DeleteDevFunction deleteDev_ = nullptr;
    LogSettings log_{};
    CBase* device_ = nullptr;
    std::atomic<std::int32_t> runFlag_{1};
    InitInfo initInfo_{};
    bool initialised_ = false;
    bool stopped_ = false;
    bool failed_ = false;
    DeviceInfo info_;
    // What the last recvData published: the marked entries as the storages
    // held them (network order), their output IDs, and the same as samples.
    TrackerData trackerEntries_[kStorageCapacity];
    ControllerData controllerEntries_[kStorageCapacity];
    std::uint32_t trackerIds_[kStorageCapacity] = {};
    std::uint32_t controllerIds_[kStorageCapacity] = {};
    std::uint32_t trackerCount_ = 0;
    std::uint32_t controllerCount_ = 0;
    HostSample samples_[2 * kStorageCapacity];
    ReceivedRecord record_;
};

}  // namespace host
