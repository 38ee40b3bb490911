#include "WatchRun.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "RunLoop.h"
#include "Say.h"
#include "platform/Platform.h"
#include "platform/SharedMemory.h"
#include "publish/Publishers.h"
#include "publish/SampleRecords.h"

namespace host {

namespace {

// How often the journal is read at least: the host wakes the reader with
// every record it writes, and without a wake-up (another platform) it reads
// this often.
constexpr std::chrono::milliseconds kPollPeriod(5);
// How long a block that is not there yet is waited for.
constexpr std::chrono::milliseconds kAttachPeriod(20);
constexpr int kAttachAttempts = 100;

// The reader has checked the table: every device's entries are within the
// lists.
std::vector<DeviceInfo> devicesOf(const SharedStoragesHeader& header)
{
    std::vector<DeviceInfo> devices;
    for (std::uint32_t i = 0; i < header.deviceCount && i < kSharedMaxDevices; ++i) {
        const SharedDevice& shared = header.devices[i];
        DeviceInfo device;
        device.name.assign(shared.name, std::find(shared.name, shared.name + sizeof shared.name, '\0') - shared.name);
        device.firstTracker = shared.trackerFirst;
        device.trackerCount = shared.trackerCount;
        device.firstController = shared.controllerFirst;
        device.controllerCount = shared.controllerCount;
        device.stateKnown = true;
        device.predictMicroseconds = shared.predictMicroseconds;
        devices.push_back(device);
    }
    return devices;
}

// One journal entry (checked by the reader, with its device) to the
// publishers, as the run that wrote it published it.
void publishSlot(const SharedJournalSlot& slot, const SharedDevice& device, Publisher& publishers)
{
    HostSample sample;
    ReceivedRecord record;
    record.device = slot.device;
    record.samples = &sample;
    record.sampleCount = 1;
    if (slot.kind == kSharedTrackerRecord) {
        trackerSample(slot.record.tracker, slot.device, slot.entry, sample);
        sample.predicts = device.predictMicroseconds != 0;
        sample.predicted = sample.predicts && (slot.flags & kSharedPosePredicted) != 0;
        record.tracker = &slot.record.tracker;
        record.predicted = sample.predicted;
    } else {
        controllerSample(slot.record.controller, slot.device, slot.entry, sample);
        record.controller = &slot.record.controller;
    }
    publishers.publish(record);
}

// A change of a device's state as the other host stored it. The block keeps
// the state alone: `since` is when this reader saw it, and a reconnecting
// device's attempt is not known (0).
void publishStatus(std::uint32_t device, std::uint32_t state, Publisher& publishers)
{
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    DeviceStatus status;
    status.device = device;
    status.state = static_cast<DeviceStatus::State>(state);
    status.seconds = static_cast<std::uint32_t>(now / 1000000);
    status.microseconds = static_cast<std::uint32_t>(now % 1000000);
    status.sinceSeconds = status.seconds;
    status.sinceMicroseconds = status.microseconds;
    publishers.status(status);
}

}  // namespace

WatchRun::WatchRun(const std::string& name, Publisher& publishers)
    : name_(name), publishers_(publishers), slots_(new SharedJournalSlot[kSharedJournalCapacity])
{
}

WatchRun::Attach WatchRun::attach()
{
    opened_ = reader_.open(name_, message_);
    switch (opened_) {
    case SharedStoragesReader::Opened::Ready:
        return Attach::Done;
    case SharedStoragesReader::Opened::Missing:
    case SharedStoragesReader::Opened::NoMagic:
        return Attach::NotYet;
    case SharedStoragesReader::Opened::Refused:
        break;
    }
    return Attach::Failed;
}

int WatchRun::step()
{
    SharedStoragesReader::Poll poll;
    if (!reader_.poll(slots_.get(), poll, message_)) {
        say(message_);
        return kExitDevice;
    }
    if (poll.devicesTaken && !begun_) {
        publishers_.begin(devicesOf(reader_.header()));
        begun_ = true;
    }
    if (poll.missed != 0) {
        missed_ += poll.missed;
        say("missed " + std::to_string(poll.missed) + " samples of \"" + name_ + "\" (read too late)");
    }
    for (std::uint32_t i = 0; i < poll.count; ++i) {
        publishSlot(slots_[i], reader_.header().devices[slots_[i].device], publishers_);
    }
    for (std::uint32_t i = 0; begun_ && i < poll.statusCount; ++i) {
        if (poll.statuses[i] != SharedStoragesReader::kNoStatus && poll.statuses[i] != statuses_[i]) {
            statuses_[i] = poll.statuses[i];
            publishStatus(i, statuses_[i], publishers_);
        }
    }
    if (poll.state == kSharedStateEnded) {
        return kExitOk;
    }
    // A host that writes samples runs; one that wrote none is looked for.
    if (poll.count == 0 && !reader_.hostAlive()) {
        say("the host of shared storages \"" + name_ + "\" has gone");
        return kExitDevice;
    }
    return RunLoop::kGoOn;
}

void WatchRun::waitForMore(std::chrono::milliseconds period) const
{
    reader_.waitForSlots(static_cast<std::uint32_t>(std::chrono::microseconds(period).count()));
}

int watchStorages(const std::string& name, const RunOptions& options)
{
    char text[64];
    if (const char* problem = platform::sharedMemoryNameProblem(name.c_str(), text, sizeof text)) {
        say("the name of shared storages \"" + name + "\" " + problem);
        return kExitUsage;
    }
    Publishers publishers;
    WatchRun watch(name, publishers);
    WatchRun::Attach attached = watch.attach();
    for (int attempt = 1; attached == WatchRun::Attach::NotYet && attempt < kAttachAttempts; ++attempt) {
        if (RunLoop::stopRequested()) {
            return kExitOk;
        }
        platform::sleepMs(static_cast<std::uint32_t>(kAttachPeriod.count()));
        attached = watch.attach();
    }
    if (attached != WatchRun::Attach::Done) {
        say(watch.message());
        // Not there at all: like a file that cannot be opened. There but not
        // shared storages of this version, or damaged: the source failed.
        return watch.missing() ? kExitUsage : kExitDevice;
    }
    std::string error;
    if (!publishers.open(options.outputs, error)) {
        say(error);
        return kExitUsage;
    }
    RunLoop loop(options.duration, publishers);
    const int result = loop.run(
        kPollPeriod, [&watch] { return watch.step(); },
        [&watch](std::chrono::milliseconds period) { watch.waitForMore(period); });
    publishers.finish();
    if (watch.missed() != 0) {
        say("missed " + std::to_string(watch.missed()) + " samples of \"" + name + "\" in all");
    }
    return result;
}

}  // namespace host
