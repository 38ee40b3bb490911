#include "HostRun.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "DeviceRunner.h"
#include "HostStorage.h"
#include "RunLoop.h"
#include "Say.h"
#include "publish/Publishers.h"

namespace host {

namespace {

std::string deviceText(const ConfigFile& file, const DeviceConfig& device)
{
    return "device \"" + device.name + "\" (" + file.fileName() + ":" + std::to_string(device.line) + ")";
}

// A point of the steady clock as the time of day (seconds since 1970 and
// microseconds), given a pair of readings of both clocks taken together.
void timeOfDay(std::chrono::steady_clock::time_point at, std::chrono::steady_clock::time_point steadyNow,
               std::chrono::system_clock::time_point systemNow, std::uint32_t& seconds, std::uint32_t& microseconds)
{
    const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
        (systemNow - std::chrono::duration_cast<std::chrono::system_clock::duration>(steadyNow - at))
            .time_since_epoch());
    seconds = static_cast<std::uint32_t>(since1970.count() / 1000000);
    microseconds = static_cast<std::uint32_t>(since1970.count() % 1000000);
}

}  // namespace

HostRun::HostRun(ConfigFile& config, RunOptions options) : config_(config), options_(std::move(options)) {}

int HostRun::run()
{
    // Without --record, --plot draws from a record of its own.
    if (options_.outputs.record.empty() && !options_.plot.empty()) {
        options_.outputs.record = options_.plot + ".jsonl";
    }
    const std::string& recordPath = options_.outputs.record;

    LogSettings log = defaultLogSettings("vantrel-host");
    log.debugLevel = options_.debugLevel;
    log.enabled = options_.quiet ? 0 : 1;
    options_.outputs.logger = loggerOf(log);

    // Each device's count of records, which the table reads until the
    // publishers finish (after the devices are gone).
    const std::unique_ptr<std::atomic<std::uint32_t>[]> recordCounts(
        new std::atomic<std::uint32_t>[config_.devices().size()]());
    // Outputs first: a file that cannot be written ends the run before any
    // device is touched.
    Publishers publishers;
    std::string error;
    if (!publishers.open(options_.outputs, error)) {
        say(error);
        return kExitUsage;
    }
    // The storages are the host's own, or a publisher's (the shared block).
    const KeptStorages kept = publishers.keptStorages();
    const std::unique_ptr<HostStorage> trackerStorage =
        kept.trackers != nullptr ? std::make_unique<HostStorage>(*kept.trackers, log)
                                 : std::make_unique<HostStorage>(HostStorage::Kind::Tracker, log);
    const std::unique_ptr<HostStorage> controllerStorage =
        kept.controllers != nullptr ? std::make_unique<HostStorage>(*kept.controllers, log)
                                    : std::make_unique<HostStorage>(HostStorage::Kind::Controller, log);
    HostStorage& trackers = *trackerStorage;
    HostStorage& controllers = *controllerStorage;

    std::vector<std::unique_ptr<DeviceRunner>> devices;
    bool loaded = true;
    for (DeviceConfig& device : config_.devices()) {
        const std::size_t index = devices.size();
        devices.push_back(std::make_unique<DeviceRunner>(device, static_cast<std::uint32_t>(index), trackers,
                                                         controllers, options_.health, recordCounts[index]));
        std::string error;
        if (!devices.back()->load(config_, error)) {
            say(error);
            loaded = false;
        }
    }
    if (!loaded) {
        return kExitUsage;
    }

    // Each device's log lines carry its name.
    for (auto& device : devices) {
        LogSettings own = log;
        std::snprintf(own.moduleName, sizeof own.moduleName, "%s", device->config().name.c_str());
        if (!device->create(own)) {
            say(deviceText(config_, device->config()) + ": createDev failed");
            return kExitDevice;
        }
    }
    // In the order of the file: the devices take their storage entries in
    // that order.
    const struct Step {
        const char* name;
        bool (DeviceRunner::*call)();
    } steps[] = {{"init", &DeviceRunner::init}, {"configure", &DeviceRunner::configure}, {"start", &DeviceRunner::start}};
    for (const Step& step : steps) {
        for (auto& device : devices) {
            if (RunLoop::stopRequested()) {
                // Stopped before streaming: the devices are stopped and
                // deleted on the way out.
                return kExitOk;
            }
            if (!((*device).*step.call)()) {
                say(deviceText(config_, device->config()) + ": " + step.name + " failed");
                return kExitDevice;
            }
        }
    }

    std::vector<DeviceInfo> infos;
    for (auto& device : devices) {
        infos.push_back(device->info());
    }
    publishers.begin(infos);

    // The health of every device's line, looked at by this thread.
    std::vector<DeviceHealth> health;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        health.emplace_back(options_.health, devices[i]->facts().since);
    }
    const auto lookAtHealth = [&] {
        const auto now = std::chrono::steady_clock::now();
        const auto systemNow = std::chrono::system_clock::now();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            DeviceRunner& device = *devices[i];
            DeviceHealth::Change change;
            if (health[i].look(device.facts(), now, change)) {
                say(deviceText(config_, device.config()) + ": " +
                    DeviceHealth::message(change, options_.health, device.portName(), device.baudRate()));
                DeviceStatus status;
                status.device = static_cast<std::uint32_t>(i);
                status.state = change.state;
                status.attempt = change.attempt;
                timeOfDay(now, now, systemNow, status.seconds, status.microseconds);
                timeOfDay(change.since, now, systemNow, status.sinceSeconds, status.sinceMicroseconds);
                publishers.status(status);
            }
            if (health[i].wantsReconnect(now)) {
                device.requestRecovery(health[i].since());
            }
        }
    };

    std::vector<std::thread> threads;
    std::atomic<std::size_t> running{devices.size()};
    for (auto& device : devices) {
        DeviceRunner* runner = device.get();
        threads.emplace_back([runner, &publishers, &running] {
            runner->receive(publishers);
            --running;
        });
    }

    // Until a stop request, the end of the duration, a broken output, or the
    // end of every device's loop.
    RunLoop loop(options_.duration, publishers);
    int result = loop.run(RunLoop::kRefreshPeriod, [&] {
        lookAtHealth();
        return running.load() == 0 ? kExitOk : RunLoop::kGoOn;
    });
    for (auto& device : devices) {
        device->requestStop();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // What the devices' threads did last, said.
    lookAtHealth();
    for (auto& device : devices) {
        if (device->failed()) {
            result = kExitDevice;
        }
        device->stop();
    }
    devices.clear();
    publishers.finish();

    if (!options_.plot.empty()) {
        const std::string command = "\"" + options_.python + "\" \"" + options_.plotScript + "\" \"" + recordPath + "\" \"" + options_.plot + "\"";
        if (std::system(command.c_str()) == 0) {
            say("picture in " + options_.plot);
        } else {
            say("no picture: " + options_.plotScript + " needs \"" + options_.python + "\" with matplotlib (the samples are in " +
                recordPath + ")");
        }
    }
    return result;
}

}  // namespace host
