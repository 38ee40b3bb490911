#pragma once
// One device of a run: its library, the device object that createDev made,
// the records the host passes to it, its run flag, and the loop of its
// thread, which calls recvData while the flag is set and hands what each call
// published to the run's publishers. The loop counts the records that arrive
// and, when the port fails or the run asks for it after a silence, brings the
// device up again: a new device object from createDev, init, configure and
// start, with a back-off between attempts, on the same output IDs. Where the
// device predicts (--predict), each tracker's pose goes to the publishers
// through its PosePredictor; the storages keep the poses as measured.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "ConfigFile.h"
#include "DeviceHealth.h"
#include "HostStorage.h"
#include "ModuleLibrary.h"
#include "PosePredictor.h"
#include "publish/Publisher.h"
#include "vantrel/CBase.h"

namespace host {

class DeviceRunner {
public:
    using Clock = std::chrono::steady_clock;

    // config, the storages and records must outlive the runner; records
    // counts the records that arrive (see receive). predict: how far ahead
    // the trackers' poses are published, in seconds (0: as measured).
    DeviceRunner(DeviceConfig& config, std::uint32_t index, HostStorage& trackers, HostStorage& controllers,
                 const HealthOptions& health, std::atomic<std::uint32_t>& records, double predict = 0.0);
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
    // Clears the run flag: recvData returns within its read time-out, and an
    // attempt to bring the device up again ends after the step under way.
    void requestStop();
    // The thread's loop; returns when stopped, or when the device is lost
    // for good (failed() then tells): its port failed and it is not brought
    // up again (--no-reconnect), or the attempts gave up (--give-up-after).
    // The publisher is called from this thread (the run's Publishers take
    // any thread).
    //
    // A record has arrived when recvData returned 1 and published something,
    // or returned before its read time-out (1000 ms) ran out: the module
    // returns early only at the end of a record (published, unchanged, or
    // dropped as invalid), and after the whole time-out when the line brought
    // no record. Calls that return within kRecordCall count as records.
    void receive(Publisher& publisher);
    static constexpr std::chrono::milliseconds kRecordCall{900};

    // From the run's main thread: brings the device up again now, as after a
    // lost port (the device has been silent since `since`). Ignored unless
    // the device is receiving.
    void requestRecovery(Clock::time_point since);
    // What the device's thread does, for the run's look at its health.
    DeviceHealth::Facts facts() const;
    // The device's port and baud rate from its option lines (empty when not
    // given), for the messages about its line.
    const std::string& portName() const { return port_; }
    const std::string& baudRate() const { return baud_; }

    // stop, once, for an initialised device (false when there is none).
    bool stop();

    const DeviceInfo& info() const { return info_; }
    const DeviceConfig& config() const { return config_; }
    bool failed() const { return failed_; }

    // The back-off between attempts: the first after kFirstDelay, each next
    // after twice the wait before, up to kLongestDelay. While the port's name
    // is missing it is looked for every kPortLook, and the next attempt comes
    // kPortSettle after it is back.
    static constexpr std::chrono::milliseconds kFirstDelay{500};
    static constexpr std::chrono::milliseconds kLongestDelay{5000};
    static constexpr std::chrono::milliseconds kPortLook{100};
    static constexpr std::chrono::milliseconds kPortSettle{200};

private:
    // The steps of bringing the device up again.
    bool recover(Clock::time_point outageBegan);
    void retire();
    DeviceHealth::Step bringUp(bool showLog);
    // Waits for the back-off; false when stopped meanwhile.
    bool waitBeforeAttempt(Clock::duration delay, bool portMissing);
    void setPhase(DeviceHealth::Phase phase, Clock::time_point since);
    // Copies the entries that recvData marked, under their storage's mutex,
    // and converts them after unlocking.
    void take(const UpdateMasks& masks);
    // Where the device predicts: the taken trackers' poses to publish, from
    // their predictors (now: seconds of the steady clock).
    void predict(double now);
    // A predicted tracker whose samples stopped: its measured pose once
    // more, as measured.
    void settle(double now, Publisher& publisher);

    DeviceConfig& config_;
    std::uint32_t index_;
    HostStorage& trackers_;
    HostStorage& controllers_;
    HealthOptions health_;
    std::atomic<std::uint32_t>& records_;
    std::string port_;
    std::string baud_;
    std::unique_ptr<ModuleLibrary> library_;
    CreateDevFunction createDev_ = nullptr;
    DeleteDevFunction deleteDev_ = nullptr;
    LogSettings log_{};
    CBase* device_ = nullptr;
    std::atomic<std::int32_t> runFlag_{1};
    std::atomic<bool> stopping_{false};
    InitInfo initInfo_{};
    bool initialised_ = false;
    bool stopped_ = false;
    std::atomic<bool> failed_{false};
    DeviceInfo info_;
    // Where init found the storages' counts the first time: a device that
    // is brought up again reserves from there (through views of the
    // storages whose counts are its own), so its output IDs stay the same.
    std::uint32_t trackerOffset_ = 0;
    std::uint32_t controllerOffset_ = 0;
    CDataStorage trackerView_{};
    CDataStorage controllerView_{};
    std::uint32_t trackerViewCount_ = 0;
    std::uint32_t controllerViewCount_ = 0;

    // The facts of health: the last record's time (steady clock, in its own
    // ticks) and the request to bring the device up again, on the path of
    // every record; the rest under factsMutex_.
    std::atomic<Clock::rep> lastRecord_{0};
    std::atomic<bool> recoveryRequested_{false};
    mutable std::mutex factsMutex_;
    DeviceHealth::Facts facts_;
    Clock::time_point recoverySince_;
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
    // Prediction: one predictor per output tracker ID, the taken entries
    // with the poses to publish, and each tracker's last entry as measured.
    bool predicts_ = false;
    PosePredictor predictors_[kStorageCapacity];
    TrackerData publishedEntries_[kStorageCapacity];
    TrackerData lastMeasured_[kStorageCapacity];
};

}  // namespace host
