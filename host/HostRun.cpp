#include "HostRun.h"

#include <atomic>
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

    // Outputs first: a file that cannot be written ends the run before any
    // device is touched.
    Publishers publishers;
    std::string error;
    if (!publishers.open(options_.outputs, error)) {
        say(error);
        return kExitUsage;
    }
    // The host's own storages; the publishers get what the devices publish
    // in them.
    HostStorage trackers(HostStorage::Kind::Tracker, log);
    HostStorage controllers(HostStorage::Kind::Controller, log);

    std::vector<std::unique_ptr<DeviceRunner>> devices;
    bool loaded = true;
    for (DeviceConfig& device : config_.devices()) {
        devices.push_back(std::make_unique<DeviceRunner>(device, static_cast<std::uint32_t>(devices.size()),
                                                         trackers, controllers));
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
    int result = loop.run(RunLoop::kRefreshPeriod,
                          [&running] { return running.load() == 0 ? kExitOk : RunLoop::kGoOn; });
    for (auto& device : devices) {
        device->requestStop();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (auto& device : devices) {
        if (device->failed()) {
            say(deviceText(config_, device->config()) + ": recvData failed " +
                std::to_string(DeviceRunner::kFailureLimit) + " times in a row");
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
