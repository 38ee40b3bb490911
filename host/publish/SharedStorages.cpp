#include "SharedStorages.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "OutputOptions.h"
#include "SampleRecords.h"
#include "host/Say.h"
#include "platform/Platform.h"

namespace {

std::string systemText(std::uint32_t code)
{
    char text[256];
    platform::systemErrorText(code, text, sizeof text);
    return text;
}

// A block that a host left behind: ended, or its process is gone.
bool abandonedBlock(const char* name)
{
    platform::SharedMemory old;
    std::uint32_t code = 0;
    if (!platform::openSharedMemory(name, 0, 0, old, code)) {
        return false;
    }
    bool abandoned = true;
    if (old.size >= sizeof(SharedStoragesHeader)) {
        const auto* header = static_cast<const SharedStoragesHeader*>(old.address);
        abandoned = header->state == kSharedStateEnded || !platform::processAlive(header->hostProcessId);
    }
    platform::closeSharedMemory(old);
    return abandoned;
}

}  // namespace

// The slot of the given sequence number (counting from 1) with its own
// fields for an entry record; the caller copies the record.
template <typename Entry>
SharedJournalSlot& SharedStorages::fillSlot(std::uint32_t sequence, SharedRecordKind kind, const Entry& entry,
                                            std::uint32_t device)
{
    SharedJournalSlot& slot = journal_[(sequence - 1) % kSharedJournalCapacity];
    slot.sequence = sequence;
    slot.kind = kind;
    slot.entry = static_cast<std::uint16_t>(host::fromNetworkOrder(entry.storageIndex));
    slot.device = device;
    return slot;
}

SharedStorages::~SharedStorages()
{
    close();
}

bool SharedStorages::create(const std::string& name, CLogH* log, std::string& error)
{
    std::uint32_t code = 0;
    platform::CreateResult created = platform::createSharedMemory(name.c_str(), kSharedBlockSize, memory_, code);
    if (created == platform::CreateResult::Exists && abandonedBlock(name.c_str()) &&
        platform::removeSharedMemory(name.c_str(), code)) {
        created = platform::createSharedMemory(name.c_str(), kSharedBlockSize, memory_, code);
    }
    if (created == platform::CreateResult::Exists) {
        error = "shared storages \"" + name + "\" are in use by another host";
        return false;
    }
    if (created != platform::CreateResult::Created) {
        error = "cannot create shared storages \"" + name + "\": " + systemText(code);
        return false;
    }
    auto* block = static_cast<unsigned char*>(memory_.address);
    header_ = reinterpret_cast<SharedStoragesHeader*>(block + kSharedHeaderOffset);
    journal_ = reinterpret_cast<SharedJournalSlot*>(block + kSharedJournalOffset);

    SharedStoragesHeader& header = *header_;
    header.version = kSharedStoragesVersion;
    header.headerSize = sizeof(SharedStoragesHeader);
    header.blockSize = kSharedBlockSize;
    header.mutexOffset = kSharedMutexOffset;
    header.mutexSize = static_cast<std::uint32_t>(platform::sharedMutexSize());
    header.trackerListOffset = kSharedTrackerListOffset;
    header.controllerListOffset = kSharedControllerListOffset;
    header.listCapacity = kSharedListCapacity;
    header.trackerEntrySize = sizeof(TrackerData);
    header.controllerEntrySize = sizeof(ControllerData);
    header.journalOffset = kSharedJournalOffset;
    header.journalCapacity = kSharedJournalCapacity;
    header.journalSlotSize = kSharedJournalSlotSize;
    header.hostProcessId = platform::currentProcessId();
    platform::sharedMutexName(name.c_str(), header.mutexName, sizeof header.mutexName);
    header.state = kSharedStateSettingUp;

    if (header.mutexSize > kSharedMutexAreaSize ||
        !platform::createSharedMutex(block + kSharedMutexOffset, header.mutexName, mutex_, code)) {
        error = "cannot create the mutex of shared storages \"" + name + "\": " + systemText(code);
        platform::closeSharedMemory(memory_);
        header_ = nullptr;
        return false;
    }

    // The magic last: a reader that finds it finds the header and the mutex
    // ready.
    std::atomic_thread_fence(std::memory_order_release);
    std::memcpy(header.magic, kSharedStoragesMagic, sizeof header.magic);

    mutexObject_.mutexHandle = mutex_;
    mutexObject_.log = log;
    trackerStorage_.trackerList = reinterpret_cast<TrackerData*>(block + kSharedTrackerListOffset);
    trackerStorage_.countPtr = &header.trackerCount;
    controllerStorage_.controllerList = reinterpret_cast<ControllerData*>(block + kSharedControllerListOffset);
    controllerStorage_.countPtr = &header.controllerCount;
    for (CDataStorage* storage : {&trackerStorage_, &controllerStorage_}) {
        storage->log = log;
        storage->mutex = &mutexObject_;
    }
    name_ = name;
    return true;
}

bool SharedStorages::addDevice(const char* deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                               std::uint32_t controllerFirst, std::uint32_t controllerCount)
{
    if (header_ == nullptr || header_->deviceCount >= kSharedMaxDevices) {
        return false;
    }
    lock();
    SharedDevice& device = header_->devices[header_->deviceCount];
    std::strncpy(device.name, deviceName, sizeof device.name - 1);
    device.trackerFirst = trackerFirst;
    device.trackerCount = trackerCount;
    device.controllerFirst = controllerFirst;
    device.controllerCount = controllerCount;
    ++header_->deviceCount;
    unlock();
    return true;
}

void SharedStorages::begin(const std::vector<host::DeviceInfo>& devices)
{
    for (const host::DeviceInfo& device : devices) {
        addDevice(device.name.c_str(), device.firstTracker, device.trackerCount, device.firstController,
                  device.controllerCount);
    }
    setRunning();
}

void SharedStorages::status(const host::DeviceStatus& status)
{
    if (header_ == nullptr || status.device >= header_->deviceCount || status.device >= kSharedMaxDevices) {
        return;
    }
    static_assert(static_cast<std::uint32_t>(host::DeviceStatus::State::Reconnecting) == kSharedDeviceReconnecting &&
                      static_cast<std::uint32_t>(host::DeviceStatus::State::Lost) == kSharedDeviceLost &&
                      static_cast<std::uint32_t>(host::DeviceStatus::State::Silent) == kSharedDeviceSilent,
                  "the table's status values are the states'");
    __atomic_store_n(&header_->devices[status.device].status, static_cast<std::uint32_t>(status.state),
                     __ATOMIC_RELEASE);
}

void SharedStorages::setRunning()
{
    if (header_ != nullptr) {
        lock();
        header_->state = kSharedStateRunning;
        unlock();
    }
}

void SharedStorages::record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller)
{
    if (header_ == nullptr || (tracker == nullptr && controller == nullptr)) {
        return;
    }
    lock();
    std::uint32_t written = header_->journalWritten;
    if (tracker != nullptr) {
        ++written;
        fillSlot(written, kSharedTrackerRecord, *tracker, device).record.tracker = *tracker;
    }
    if (controller != nullptr) {
        ++written;
        fillSlot(written, kSharedControllerRecord, *controller, device).record.controller = *controller;
    }
    header_->journalWritten = written;
    unlock();
}

void SharedStorages::close()
{
    if (header_ == nullptr) {
        return;
    }
    lock();
    header_->state = kSharedStateEnded;
    unlock();
    platform::closeSharedMutex(mutex_);
    platform::closeSharedMemory(memory_);
    mutex_ = nullptr;
    header_ = nullptr;
    journal_ = nullptr;
}

void SharedStorages::lock()
{
    std::uint32_t code = 0;
    if (platform::lockMutex(mutex_, code) == platform::LockResult::Abandoned) {
        // Now ours and consistent again; the process that held it is gone.
        host::say("a process died holding the mutex of shared storages \"" + name_ + "\"; the host goes on");
    }
}

void SharedStorages::unlock()
{
    std::uint32_t code = 0;
    platform::unlockMutex(mutex_, code);
}

namespace host {

// --shm NAME.
std::unique_ptr<Publisher> makeSharedStorages(const OutputOptions& options, std::string& error)
{
    if (options.shm.empty()) {
        return nullptr;
    }
    auto shared = std::make_unique<SharedStorages>();
    if (!shared->create(options.shm, options.logger, error)) {
        return nullptr;
    }
    return shared;
}

}  // namespace host
