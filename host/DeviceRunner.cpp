#include "DeviceRunner.h"

#include <cstring>

#include "publish/SampleRecords.h"

namespace host {

static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t) &&
                  std::atomic<std::int32_t>::is_always_lock_free,
              "the module reads the run flag as a plain 32-bit integer");

DeviceRunner::DeviceRunner(DeviceConfig& config, std::uint32_t index, HostStorage& trackers, HostStorage& controllers)
    : config_(config), index_(index), trackers_(trackers), controllers_(controllers)
{
    info_.name = config.name;
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
    if (!library_->loaded()) {
        error = file.where(config_.line, "cannot load library \"" + config_.libraryPath + "\" (" +
                                             library_->loadError() +
                                             "): give the module's path, absolute or from the file's folder");
        return false;
    }
    createDev_ = library_->createDev();
    deleteDev_ = library_->deleteDev();
    if (createDev_ == nullptr || deleteDev_ == nullptr) {
        error = file.where(config_.line, "library \"" + config_.libraryPath + "\" does not export createDev and deleteDev");
        return false;
    }
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
    return true;
}

bool DeviceRunner::configure()
{
    return device_->configure() != 0;
}

bool DeviceRunner::start()
{
    return device_->start();
}

bool DeviceRunner::stop()
{
    stopped_ = true;
    return device_->stop();
}

void DeviceRunner::receive(Publisher& publisher)
{
    std::uint32_t failures = 0;
    while (runFlag_.load() != 0) {
        UpdateMasks masks{};
        if (device_->recvData(&masks, nullptr) != 1) {
            if (runFlag_.load() == 0) {
                break;
            }
            if (++failures == kFailureLimit) {
                failed_ = true;
                break;
            }
            continue;
        }
        failures = 0;
        take(masks);
        if (record_.sampleCount != 0) {
            publisher.publish(record_);
        }
    }
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
    record_.samples = samples_;
    record_.sampleCount = count;
}

}  // namespace host
