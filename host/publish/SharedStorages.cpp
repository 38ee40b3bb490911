#include "SharedStorages.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "OutputOptions.h"
#include "SampleRecords.h"
#include "SharedStoragesReader.h"
#include "SharedWords.h"
#include "platform/Platform.h"

namespace {

std::string systemText(std::uint32_t code)
{
    char text[256];
    platform::systemErrorText(code, text, sizeof text);
    return text;
}

}  // namespace

SharedStorages::~SharedStorages()
{
    close();
}

std::string SharedStorages::leftOverProblem(const std::string& name)
{
    SharedStoragesReader leftOver;
    std::string problem;
    switch (leftOver.open(name, problem)) {
    case SharedStoragesReader::Opened::Missing:
        return {};  // gone meanwhile
    case SharedStoragesReader::Opened::NoMagic:
    case SharedStoragesReader::Opened::Refused:
        return problem + ": left as it is; remove it or choose another name";
    case SharedStoragesReader::Opened::Ready:
        break;
    }
    const SharedStoragesHeader& header = leftOver.header();
    if (header.state != kSharedStateEnded && leftOver.hostAlive()) {
        return "shared storages \"" + name + "\" are in use by a running host (process " +
               std::to_string(header.hostProcessId) + ")";
    }
    return {};
}

bool SharedStorages::create(const std::string& name, std::uint32_t mode, std::string& error)
{
    char text[64];
    if (const char* problem = platform::sharedMemoryNameProblem(name.c_str(), text, sizeof text)) {
        error = "the name of shared storages \"" + name + "\" " + problem;
        return false;
    }
    std::uint32_t code = 0;
    platform::CreateResult created = platform::createSharedMemory(name.c_str(), kSharedBlockSize, mode, memory_, code);
    if (created == platform::CreateResult::Exists) {
        error = leftOverProblem(name);
        if (!error.empty()) {
            return false;
        }
        if (!platform::removeSharedMemory(name.c_str(), code) && code != ENOENT) {
            error = "cannot remove the shared storages \"" + name + "\" that a host left: " + systemText(code);
            return false;
        }
        created = platform::createSharedMemory(name.c_str(), kSharedBlockSize, mode, memory_, code);
    }
    switch (created) {
    case platform::CreateResult::Created:
        break;
    case platform::CreateResult::Exists:
        error = "shared storages \"" + name + "\" cannot be replaced: a block of that name is still there";
        return false;
    case platform::CreateResult::NoRoom:
        error = "cannot reserve " + std::to_string(kSharedBlockSize) + " bytes of shared memory for shared storages \"" +
                name + "\": " + systemText(code);
        return false;
    case platform::CreateResult::Failed:
        error = "cannot create shared storages \"" + name + "\": " + systemText(code);
        return false;
    }
    block_ = static_cast<unsigned char*>(memory_.address);
    header_ = reinterpret_cast<SharedStoragesHeader*>(block_ + kSharedHeaderOffset);

    // The header's constant part, then (after a release fence) the magic: a
    // reader that finds the magic finds the rest.
    SharedStoragesHeader header{};
    header.version = kSharedStoragesVersion;
    header.headerSize = sizeof(SharedStoragesHeader);
    header.blockSize = kSharedBlockSize;
    header.trackerListOffset = kSharedTrackerListOffset;
    header.controllerListOffset = kSharedControllerListOffset;
    header.listCapacity = kSharedListCapacity;
    header.trackerEntrySize = sizeof(SharedTrackerEntry);
    header.controllerEntrySize = sizeof(SharedControllerEntry);
    header.journalOffset = kSharedJournalOffset;
    header.journalCapacity = kSharedJournalCapacity;
    header.journalSlotSize = kSharedJournalSlotSize;
    header.hostProcessId = platform::currentProcessId();
    header.state = kSharedStateSettingUp;
    constexpr std::size_t constants = offsetof(SharedStoragesHeader, version);
    host::shared::copyOut(block_ + constants, reinterpret_cast<const unsigned char*>(&header) + constants,
                          sizeof(SharedStoragesHeader) - constants);
    std::atomic_thread_fence(std::memory_order_release);
    host::shared::copyOut(block_, kSharedStoragesMagic, sizeof kSharedStoragesMagic);
    return true;
}

bool SharedStorages::addDevice(const char* deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                               std::uint32_t controllerFirst, std::uint32_t controllerCount,
                               std::uint32_t predictMicroseconds)
{
    const auto within = [](std::uint32_t first, std::uint32_t count) {
        return count == 0 || (first >= 1 && first - 1 + std::uint64_t{count} <= kSharedListCapacity);
    };
    if (header_ == nullptr || deviceCount_ >= kSharedMaxDevices || !within(trackerFirst, trackerCount) ||
        !within(controllerFirst, controllerCount)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(writing_);
    SharedDevice device{};
    std::strncpy(device.name, deviceName, sizeof device.name - 1);
    device.trackerFirst = trackerFirst;
    device.trackerCount = trackerCount;
    device.controllerFirst = controllerFirst;
    device.controllerCount = controllerCount;
    device.predictMicroseconds = predictMicroseconds;
    host::shared::copyOut(&header_->devices[deviceCount_], &device, sizeof device);
    ++deviceCount_;
    if (trackerCount != 0 && trackerFirst + trackerCount - 1 > trackerCount_) {
        trackerCount_ = trackerFirst + trackerCount - 1;
    }
    if (controllerCount != 0 && controllerFirst + controllerCount - 1 > controllerCount_) {
        controllerCount_ = controllerFirst + controllerCount - 1;
    }
    const std::uint32_t counts[3] = {trackerCount_, controllerCount_, deviceCount_};
    static_assert(offsetof(SharedStoragesHeader, controllerCount) == offsetof(SharedStoragesHeader, trackerCount) + 4 &&
                      offsetof(SharedStoragesHeader, deviceCount) == offsetof(SharedStoragesHeader, trackerCount) + 8,
                  "the three counts side by side");
    host::shared::copyOut(&header_->trackerCount, counts, sizeof counts);
    return true;
}

void SharedStorages::begin(const std::vector<host::DeviceInfo>& devices)
{
    for (const host::DeviceInfo& device : devices) {
        addDevice(device.name.c_str(), device.firstTracker, device.trackerCount, device.firstController,
                  device.controllerCount, device.predictMicroseconds);
    }
    setRunning();
}

void SharedStorages::status(const host::DeviceStatus& status)
{
    // The writer reads nothing back from the block: its own count of devices.
    if (header_ == nullptr || status.device >= deviceCount_) {
        return;
    }
    static_assert(static_cast<std::uint32_t>(host::DeviceStatus::State::Reconnecting) == kSharedDeviceReconnecting &&
                      static_cast<std::uint32_t>(host::DeviceStatus::State::Lost) == kSharedDeviceLost &&
                      static_cast<std::uint32_t>(host::DeviceStatus::State::Silent) == kSharedDeviceSilent,
                  "the table's status values are the states'");
    host::shared::storeRelease(&header_->devices[status.device].status, static_cast<std::uint32_t>(status.state));
}

void SharedStorages::setRunning()
{
    if (header_ != nullptr) {
        std::lock_guard<std::mutex> lock(writing_);
        host::shared::storeRelease(&header_->state, kSharedStateRunning);
    }
}

void SharedStorages::appendSlot(SharedJournalSlot& slot)
{
    ++written_;
    slot.sequence = slot.sequenceEnd = written_;
    unsigned char* at = block_ + kSharedJournalOffset + std::size_t{(written_ - 1) % kSharedJournalCapacity} * sizeof slot;
    host::shared::writeFramed(at, &slot, sizeof slot, offsetof(SharedJournalSlot, sequence),
                              offsetof(SharedJournalSlot, sequenceEnd));
}

// The record into its list entry (its writes counted in `writes`, one per
// entry) and into the next journal slot; a record of an entry outside the
// lists is left out.
namespace {

// A tracker entry's prediction, from what the slot of the same record says;
// a controller entry has none.
void setPoseFacts(SharedTrackerEntry& entry, const SharedJournalSlot& slot)
{
    entry.flags = slot.flags;
    std::memcpy(entry.measured, slot.measured, sizeof entry.measured);
}

void setPoseFacts(SharedControllerEntry&, const SharedJournalSlot&) {}

}  // namespace

template <typename Entry>
void SharedStorages::publishEntry(SharedRecordKind kind, std::uint32_t listOffset, std::uint32_t* writes,
                                  std::uint32_t device, const decltype(Entry::record)& record, const PoseFacts& facts)
{
    const std::uint32_t index = host::fromNetworkOrder(record.storageIndex);
    if (index < 1 || index > kSharedListCapacity) {
        return;
    }
    SharedJournalSlot slot{};
    slot.kind = kind;
    slot.entry = static_cast<std::uint16_t>(index);
    slot.device = device;
    std::memcpy(&slot.record, &record, sizeof record);
    slot.flags = facts.flags;
    if (facts.measured != nullptr) {
        std::memcpy(slot.measured, facts.measured, sizeof slot.measured);
    }
    Entry entry{};
    entry.sequence = entry.sequenceEnd = ++writes[index - 1];
    entry.record = record;
    setPoseFacts(entry, slot);
    host::shared::writeFramed(block_ + listOffset + (index - 1) * sizeof entry, &entry, sizeof entry,
                              offsetof(Entry, sequence), offsetof(Entry, sequenceEnd));
    appendSlot(slot);
}

void SharedStorages::record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller,
                            bool predicted, const TrackerData* measured)
{
    if (header_ == nullptr || (tracker == nullptr && controller == nullptr)) {
        return;
    }
    std::uint32_t* const written = &header_->journalWritten;
    {
        std::lock_guard<std::mutex> lock(writing_);
        write(device, tracker, controller, predicted, measured);
    }
    // Readers that wait for the count to change wake now (one system call
    // that never blocks), after the lock: other devices' records do not
    // wait for it. A wake-up more or out of turn does no harm.
    platform::wakeWordWaiters(written);
}

void SharedStorages::write(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller,
                           bool predicted, const TrackerData* measured)
{
    if (tracker != nullptr) {
        PoseFacts facts;
        facts.flags = predicted && measured != nullptr ? kSharedPosePredicted : 0u;
        facts.measured = (facts.flags != 0 ? measured : tracker)->pose;
        publishEntry<SharedTrackerEntry>(kSharedTrackerRecord, kSharedTrackerListOffset, trackerWrites_, device,
                                         *tracker, facts);
    }
    if (controller != nullptr) {
        publishEntry<SharedControllerEntry>(kSharedControllerRecord, kSharedControllerListOffset, controllerWrites_,
                                            device, *controller, PoseFacts());
    }
    host::shared::storeRelease(&header_->journalWritten, written_);
}

void SharedStorages::close()
{
    if (header_ == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(writing_);
        host::shared::storeRelease(&header_->state, kSharedStateEnded);
        platform::wakeWordWaiters(&header_->journalWritten);
    }
    platform::closeSharedMemory(memory_);
    block_ = nullptr;
    header_ = nullptr;
}

namespace host {

namespace {

// --shm-mode: octal read and write bits only.
bool shmMode(const std::string& text, std::uint32_t& mode)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string::npos) {
        return false;
    }
    mode = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 8));
    return (mode & ~0666u) == 0;
}

}  // namespace

// --shm NAME [--shm-mode MODE].
std::unique_ptr<Publisher> makeSharedStorages(const OutputOptions& options, std::string& error)
{
    std::uint32_t mode = SharedStorages::kDefaultMode;
    if (options.shmMode) {
        if (!options.shm) {
            error = "--shm-mode needs --shm NAME";
            return nullptr;
        }
        if (!platform::sharedMemoryHasModes()) {
            error = "--shm-mode is not available here: the block has the default security of the user's objects";
            return nullptr;
        }
        if (!shmMode(*options.shmMode, mode)) {
            error = "--shm-mode \"" + *options.shmMode +
                    "\": give the block's permissions as an octal number of read and write bits, such as 0600 or "
                    "0640";
            return nullptr;
        }
    }
    if (!options.shm) {
        return nullptr;
    }
    auto shared = std::make_unique<SharedStorages>();
    if (!shared->create(*options.shm, mode, error)) {
        return nullptr;
    }
    return shared;
}

}  // namespace host
