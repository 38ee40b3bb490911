#include "DeviceRunner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "RunLoop.h"
#include "platform/HostPlatform.h"
#include "publish/SampleRecords.h"

namespace host {

static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t) &&
                  std::atomic<std::int32_t>::is_always_lock_free,
              "the module reads the run flag as a plain 32-bit integer");

DeviceRunner::DeviceRunner(DeviceConfig& config, std::uint32_t index, HostStorage& trackers, HostStorage& controllers,
                           const HealthOptions& health, std::atomic<std::uint32_t>& records, double predict)
    : config_(config),
      index_(index),
      trackers_(trackers),
      controllers_(controllers),
      health_(health),
      records_(records),
      port_(config.options->argumentOf("port")),
      baud_(config.options->argumentOf("baud"))
{
    info_.name = config.name;
    info_.hemisphere = config.options->argumentOf("hemisphere");
    info_.records = &records;
    info_.stateKnown = true;
    predicts_ = predict > 0.0;
    info_.predictMicroseconds = predicts_ ? static_cast<std::uint32_t>(std::lround(predict * 1e6)) : 0;
    // No prediction across a silence (configure caps the gap at kLongestGap).
    for (PosePredictor& predictor : predictors_) {
        predictor.configure(predict, health.silence);
    }
}

DeviceRunner::~DeviceRunner()
{
    if (initialised_ && !stopped_) {
        stop();
    }
    if (device_ != nullptr && deleteDev_ != nullptr) {
        deleteDev_(device_);
    }
}

bool DeviceRunner::load(const ConfigFile& file, std::string& error)
{
    library_ = std::make_unique<ModuleLibrary>(config_.libraryPath);
    const std::string problem = library_->problem();
    if (!problem.empty()) {
        error = file.where(config_.line, problem);
        return false;
    }
    createDev_ = library_->createDev();
    deleteDev_ = library_->deleteDev();
    return true;
}

bool DeviceRunner::create(const LogSettings& log)
{
    log_ = log;
    device_ = createDev_(config_.options->block(), &log_);
    return device_ != nullptr;
}

bool DeviceRunner::init()
{
    initInfo_.trackerStorage = trackers_.storage();
    initInfo_.controllerStorage = controllers_.storage();
    initInfo_.runFlag = reinterpret_cast<std::int32_t*>(&runFlag_);
    trackers_.mutex().lock();
    const std::uint32_t trackersBefore = trackers_.count();
    trackers_.mutex().unlock();
    controllers_.mutex().lock();
    const std::uint32_t controllersBefore = controllers_.count();
    controllers_.mutex().unlock();

    if (device_->init(&initInfo_) != 1) {
        return false;
    }
    initialised_ = true;
    trackers_.mutex().lock();
    info_.firstTracker = trackersBefore + 1;
    info_.trackerCount = trackers_.count() - trackersBefore;
    trackers_.mutex().unlock();
    controllers_.mutex().lock();
    info_.controllerCount = controllers_.count() - controllersBefore;
    info_.firstController = info_.controllerCount == 0 ? 0 : controllersBefore + 1;
    controllers_.mutex().unlock();
    trackerOffset_ = trackersBefore;
    controllerOffset_ = controllersBefore;
    return true;
}

bool DeviceRunner::configure()
{
    return device_->configure() != 0;
}

bool DeviceRunner::start()
{
    const bool started = device_->start();
    setPhase(DeviceHealth::Phase::Receiving, Clock::now());
    return started;
}

void DeviceRunner::requestStop()
{
    stopping_.store(true);
    runFlag_.store(0);
}

bool DeviceRunner::stop()
{
    if (device_ == nullptr || !initialised_ || stopped_) {
        return false;  // none to stop: the thread was between two device objects
    }
    stopped_ = true;
    return device_->stop();
}

void DeviceRunner::receive(Publisher& publisher)
{
    Clock::time_point before = Clock::now();
    while (!stopping_.load()) {
        if (recoveryRequested_.load(std::memory_order_relaxed)) {
            Clock::time_point since;
            {
                std::lock_guard<std::mutex> lock(factsMutex_);
                since = recoverySince_;
            }
            if (!recover(since)) {
                break;
            }
            before = Clock::now();
            continue;
        }
        UpdateMasks masks{};
        const std::int32_t result = device_->recvData(&masks, nullptr);
        const Clock::time_point after = Clock::now();
        if (result != 1) {
            if (stopping_.load() || runFlag_.load() == 0) {
                continue;  // stopped, or asked to bring the device up again
            }
            // The port failed.
            if (!health_.reconnect) {
                failed_ = true;
                setPhase(DeviceHealth::Phase::Ended, after);
                break;
            }
            setPhase(DeviceHealth::Phase::Lost, after);
            if (!recover(after)) {
                break;
            }
            before = Clock::now();
            continue;
        }
        if (masks.trackerMask != 0 || masks.controllerMask != 0 || after - before < kRecordCall) {
            records_.fetch_add(1, std::memory_order_relaxed);
            lastRecord_.store(after.time_since_epoch().count(), std::memory_order_relaxed);
        }
        before = after;
        take(masks);
        const double now = std::chrono::duration<double>(after.time_since_epoch()).count();
        if (predicts_) {
            predict(now);
        }
        if (record_.sampleCount != 0) {
            publisher.publish(record_);
        }
        if (predicts_) {
            settle(now, publisher);
        }
    }
}

void DeviceRunner::requestRecovery(Clock::time_point since)
{
    std::lock_guard<std::mutex> lock(factsMutex_);
    if (facts_.phase != DeviceHealth::Phase::Receiving || recoveryRequested_.load()) {
        return;
    }
    recoverySince_ = since;
    recoveryRequested_.store(true);
    runFlag_.store(0);
}

DeviceHealth::Facts DeviceRunner::facts() const
{
    DeviceHealth::Facts facts;
    {
        std::lock_guard<std::mutex> lock(factsMutex_);
        facts = facts_;
    }
    facts.lastRecord = Clock::time_point(Clock::duration(lastRecord_.load(std::memory_order_relaxed)));
    return facts;
}

void DeviceRunner::setPhase(DeviceHealth::Phase phase, Clock::time_point since)
{
    std::lock_guard<std::mutex> lock(factsMutex_);
    facts_.phase = phase;
    facts_.since = since;
}

namespace {

// While a device is brought up again, a second stop request ends the
// program at once.
struct RecoveryUnderWay {
    RecoveryUnderWay() { RunLoop::recoveryBegins(); }
    ~RecoveryUnderWay() { RunLoop::recoveryEnds(); }
    RecoveryUnderWay(const RecoveryUnderWay&) = delete;
    RecoveryUnderWay& operator=(const RecoveryUnderWay&) = delete;
};

}  // namespace

// Stops and deletes the device object that failed, then makes attempts with
// a back-off until one brings the device up again (true), the run stops or
// the attempts give up (false).
bool DeviceRunner::recover(Clock::time_point outageBegan)
{
    const RecoveryUnderWay underWay;
    retire();
    const bool givesUp = health_.giveUpAfter > 0.0;
    const Clock::time_point giveUp =
        outageBegan + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(health_.giveUpAfter));
    Clock::duration delay = kFirstDelay;
    DeviceHealth::Step failedAt = DeviceHealth::Step::None;
    bool logShown = false;
    for (std::uint32_t attempt = 1;; ++attempt) {
        const Clock::duration wait = givesUp ? std::min(delay, giveUp - Clock::now()) : delay;
        if (!waitBeforeAttempt(wait, failedAt == DeviceHealth::Step::PortMissing)) {
            return false;
        }
        if (givesUp && Clock::now() >= giveUp) {
            failed_ = true;
            setPhase(DeviceHealth::Phase::Ended, Clock::now());
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(factsMutex_);
            facts_.phase = DeviceHealth::Phase::Reconnecting;
            facts_.since = Clock::now();
            facts_.attempt = attempt;
            facts_.failedAt = failedAt;
        }
        // The module's own lines once per outage: they say what the system
        // found; after that the host's line for each attempt says enough.
        failedAt = bringUp(!logShown);
        logShown = logShown || failedAt != DeviceHealth::Step::PortMissing;
        if (failedAt == DeviceHealth::Step::None) {
            // No prediction across the outage.
            for (PosePredictor& predictor : predictors_) {
                predictor.reset();
            }
            std::lock_guard<std::mutex> lock(factsMutex_);
            facts_.phase = DeviceHealth::Phase::Receiving;
            facts_.since = Clock::now();
            facts_.failedAt = DeviceHealth::Step::None;
            recoveryRequested_.store(false);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(factsMutex_);
            facts_.failedAt = failedAt;
        }
        delay = std::min<Clock::duration>(2 * delay, kLongestDelay);
    }
}

// The device object that failed: stop (the host always stops what it
// initialised), then deleteDev.
void DeviceRunner::retire()
{
    if (initialised_ && !stopped_) {
        stop();
    }
    if (device_ != nullptr) {
        deleteDev_(device_);
        device_ = nullptr;
    }
    initialised_ = false;
    stopped_ = false;
}

bool DeviceRunner::waitBeforeAttempt(Clock::duration delay, bool portMissing)
{
    const Clock::time_point until = Clock::now() + delay;
    Clock::time_point look = Clock::now();
    while (Clock::now() < until) {
        if (stopping_.load()) {
            return false;
        }
        if (portMissing && Clock::now() >= look) {
            if (platform::serialPortPresence(port_.c_str()) == platform::Presence::Present) {
                // Back: a moment for the system to set the new port up.
                std::this_thread::sleep_for(kPortSettle);
                break;
            }
            look += kPortLook;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !stopping_.load();
}

// One attempt: a new device object through the whole start-up, on views of
// the storages that lead init to the same entries as the first time. Returns
// where it failed (the device object is gone then), or Step::None.
DeviceHealth::Step DeviceRunner::bringUp(bool showLog)
{
    if (platform::serialPortPresence(port_.c_str()) == platform::Presence::Absent) {
        return DeviceHealth::Step::PortMissing;
    }
    LogSettings log = log_;
    if (!showLog) {
        log.enabled = 0;
    }
    config_.options->clearConsumed();
    device_ = createDev_(config_.options->block(), &log);
    if (device_ == nullptr) {
        return DeviceHealth::Step::Init;
    }
    trackerView_ = *trackers_.storage();
    trackerView_.countPtr = &trackerViewCount_;
    trackerViewCount_ = trackerOffset_;
    controllerView_ = *controllers_.storage();
    controllerView_.countPtr = &controllerViewCount_;
    controllerViewCount_ = controllerOffset_;
    initInfo_.trackerStorage = &trackerView_;
    initInfo_.controllerStorage = &controllerView_;
    runFlag_.store(1);
    if (device_->init(&initInfo_) != 1) {
        retire();
        return DeviceHealth::Step::Init;
    }
    initialised_ = true;
    // The same entries as before, or the attempt is no good.
    const std::uint32_t controllersTaken = controllerViewCount_ - controllerOffset_;
    if (trackerViewCount_ - trackerOffset_ != info_.trackerCount || controllersTaken != info_.controllerCount) {
        retire();
        return DeviceHealth::Step::Init;
    }
    if (device_->configure() == 0) {
        retire();
        return DeviceHealth::Step::Configure;
    }
    if (!device_->start()) {
        retire();
        return DeviceHealth::Step::Start;
    }
    if (stopping_.load()) {
        runFlag_.store(0);
    }
    return DeviceHealth::Step::None;
}

namespace {

// Copies every entry whose bit is set in a mask (host order) and that the
// storage holds, with its output ID, under the storage's mutex. Returns the
// number copied.
template <typename Entry>
std::uint32_t copyMarked(std::uint32_t mask, HostStorage& storage, const Entry* list, Entry* entries,
                         std::uint32_t* ids)
{
    if (mask == 0) {
        return 0;
    }
    std::uint32_t count = 0;
    storage.mutex().lock();
    const std::uint32_t valid = storage.count();
    for (std::uint32_t id = 1; id <= valid && id <= kStorageCapacity; ++id) {
        if ((mask & (1u << (id - 1))) != 0) {
            entries[count] = list[id - 1];
            ids[count++] = id;
        }
    }
    storage.mutex().unlock();
    return count;
}

}  // namespace

void DeviceRunner::take(const UpdateMasks& masks)
{
    trackerCount_ = copyMarked(fromNetworkOrder(masks.trackerMask), trackers_, trackers_.trackers(),
                               trackerEntries_, trackerIds_);
    controllerCount_ = copyMarked(fromNetworkOrder(masks.controllerMask), controllers_, controllers_.controllers(),
                                  controllerEntries_, controllerIds_);
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < trackerCount_; ++i) {
        trackerSample(trackerEntries_[i], index_, trackerIds_[i], samples_[count++]);
    }
    for (std::uint32_t i = 0; i < controllerCount_; ++i) {
        controllerSample(controllerEntries_[i], index_, controllerIds_[i], samples_[count++]);
    }
    record_.device = index_;
    record_.tracker = trackerCount_ != 0 ? &trackerEntries_[0] : nullptr;
    record_.controller = controllerCount_ != 0 ? &controllerEntries_[0] : nullptr;
    record_.predicted = false;
    record_.measured = nullptr;
    record_.samples = samples_;
    record_.sampleCount = count;
}

void DeviceRunner::predict(double now)
{
    // The tracker samples come first in samples_, in the entries' order.
    for (std::uint32_t i = 0; i < trackerCount_; ++i) {
        const std::uint32_t id = trackerIds_[i];
        HostSample& sample = samples_[i];
        lastMeasured_[id - 1] = trackerEntries_[i];
        PosePredictor::Pose pose;
        sample.predicts = true;
        sample.predicted = predictors_[id - 1].take(sample.pose, now, pose);
        std::memcpy(sample.pose, pose, sizeof sample.pose);
        publishedEntries_[i] = trackerEntries_[i];
        for (int k = 0; k < 6; ++k) {
            publishedEntries_[i].pose[k] = static_cast<std::int32_t>(toNetworkOrder(static_cast<std::uint32_t>(pose[k])));
        }
    }
    if (trackerCount_ != 0) {
        record_.tracker = &publishedEntries_[0];
        record_.predicted = samples_[0].predicted;
        record_.measured = &trackerEntries_[0];
    }
}

void DeviceRunner::settle(double now, Publisher& publisher)
{
    for (std::uint32_t id = info_.firstTracker; id < info_.firstTracker + info_.trackerCount && id >= 1 &&
                                                id <= kStorageCapacity;
         ++id) {
        if (!predictors_[id - 1].settle(now)) {
            continue;
        }
        HostSample sample;
        trackerSample(lastMeasured_[id - 1], index_, id, sample);
        sample.predicts = true;
        ReceivedRecord record;
        record.device = index_;
        record.tracker = &lastMeasured_[id - 1];
        record.samples = &sample;
        record.sampleCount = 1;
        publisher.publish(record);
    }
}

}  // namespace host
