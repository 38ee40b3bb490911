#include "WatchRun.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "RunLoop.h"
#include "Say.h"
#include "publish/Publishers.h"
#include "publish/SampleRecords.h"
#include "publish/SharedStoragesReader.h"

namespace host {

namespace {

// How often the journal is read.
constexpr std::chrono::milliseconds kPollPeriod(5);

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
        devices.push_back(device);
    }
    return devices;
}

// One journal entry to the publishers, as the run that wrote it published it.
void publishSlot(const SharedJournalSlot& slot, Publisher& publishers)
{
    HostSample sample;
    ReceivedRecord record;
    record.device = slot.device;
    record.samples = &sample;
    record.sampleCount = 1;
    if (slot.kind == kSharedTrackerRecord) {
        trackerSample(slot.record.tracker, slot.device, slot.entry, sample);
        record.tracker = &slot.record.tracker;
    } else if (slot.kind == kSharedControllerRecord) {
        controllerSample(slot.record.controller, slot.device, slot.entry, sample);
        record.controller = &slot.record.controller;
    } else {
        return;
    }
    publishers.publish(record);
}

}  // namespace

int watchStorages(const std::string& name, const RunOptions& options)
{
    SharedStoragesReader reader;
    std::string error;
    if (!reader.attach(name, error)) {
        say(error);
        return kExitUsage;
    }
    Publishers publishers;
    if (!publishers.open(options.outputs, error)) {
        say(error);
        return kExitUsage;
    }

    std::unique_ptr<SharedJournalSlot[]> slots(new SharedJournalSlot[kSharedJournalCapacity]);
    std::unique_ptr<SharedStoragesHeader> header(new SharedStoragesHeader{});
    bool begun = false;
    std::uint64_t missed = 0;
    RunLoop loop(options.duration, publishers);
    const int result = loop.run(kPollPeriod, [&] {
        const SharedStoragesReader::Poll poll = reader.poll(slots.get(), *header);
        if (poll.ownerDied) {
            say("a process died holding the mutex of shared storages \"" + name + "\"; recovered");
        }
        if (!begun && poll.state != kSharedStateSettingUp) {
            publishers.begin(devicesOf(*header));
            begun = true;
        }
        if (poll.missed != 0) {
            missed += poll.missed;
            say("missed " + std::to_string(poll.missed) + " samples of \"" + name + "\" (read too late)");
        }
        for (std::uint32_t i = 0; i < poll.count; ++i) {
            publishSlot(slots[i], publishers);
        }
        if (poll.state == kSharedStateEnded) {
            return static_cast<int>(kExitOk);
        }
        if (!reader.hostAlive()) {
            say("the host of shared storages \"" + name + "\" has gone");
            return static_cast<int>(kExitDevice);
        }
        return RunLoop::kGoOn;
    });
    publishers.finish();
    if (missed != 0) {
        say("missed " + std::to_string(missed) + " samples of \"" + name + "\" in all");
    }
    return result;
}

}  // namespace host
