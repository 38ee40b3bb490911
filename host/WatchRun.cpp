#include "WatchRun.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "Say.h"
#include "publish/Publishers.h"
#include "publish/SampleRecords.h"
#include "publish/SharedStoragesReader.h"

namespace host {

namespace {

// How often the journal is read, and how often the outputs are refreshed.
constexpr std::chrono::milliseconds kPollPeriod(5);
constexpr std::chrono::milliseconds kRefreshPeriod(33);

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
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    Clock::time_point refreshed = Clock::now();
    bool begun = false;
    std::uint64_t missed = 0;
    int result = kExitOk;
    while (!HostRun::stopRequested() && (options.duration <= 0.0 || Clock::now() < deadline)) {
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
            const SharedJournalSlot& slot = slots[i];
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
                continue;
            }
            publishers.publish(record);
        }
        if (poll.state == kSharedStateEnded) {
            break;
        }
        if (!reader.hostAlive()) {
            say("the host of shared storages \"" + name + "\" has gone");
            result = kExitDevice;
            break;
        }
        if (Clock::now() - refreshed >= kRefreshPeriod) {
            publishers.refresh();
            refreshed = Clock::now();
            if (publishers.broken()) {
                say("an output cannot be written any more: stopping");
                result = kExitUsage;
                break;
            }
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
    publishers.finish();
    if (missed != 0) {
        say("missed " + std::to_string(missed) + " samples of \"" + name + "\" in all");
    }
    return result;
}

}  // namespace host
