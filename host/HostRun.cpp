#include "HostRun.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "DeviceRunner.h"
#include "HostStorage.h"
#include "RunLoop.h"
#include "Say.h"
#include "platform/HostPlatform.h"
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

bool HostRun::outputsStandAlone(std::string& refused) const
{
    struct Output {
        const char* option;
        const std::string& path;
    };
    const Output outputs[] = {{"--record", options_.outputs.record}, {"--plot", options_.plot}};
    for (const Output& output : outputs) {
        if (output.path.empty()) {
            continue;
        }
        const std::string named = std::string(output.option) + " " + output.path;
        if (platform::sameFile(output.path, config_.fileName())) {
            refused = named + " is the configuration file " + config_.fileName();
            return false;
        }
        for (const DeviceConfig& device : config_.devices()) {
            if (platform::sameFile(output.path, device.libraryPath)) {
                refused = named + " is the library of " + deviceText(config_, device);
                return false;
            }
        }
    }
    // The script would draw the picture over the record it reads.
    const auto place = [](const std::string& path) {
        std::error_code failure;
        return std::filesystem::weakly_canonical(std::filesystem::absolute(path, failure), failure);
    };
    if (!options_.plot.empty() && (platform::sameFile(options_.outputs.record, options_.plot) ||
                                   place(options_.outputs.record) == place(options_.plot))) {
        refused = "--record " + options_.outputs.record + " and --plot " + options_.plot + " are one file";
        return false;
    }
    return true;
}

bool HostRun::drawPicture(const std::string& recordPath) const
{
    // Each word as it is: no shell sees the names.
    std::vector<std::string> command = options_.python;
    command.insert(command.end(), {options_.plotScript, recordPath, options_.plot});
    // The record's positions are in the run's units.
    const Units units = options_.outputs.pose.units;
    if (units != Units::Feet) {
        command.insert(command.end(), {"--units", units == Units::Inches ? "inches" : "m"});
    }
    const platform::ProgramRun plot = platform::runProgram(command);
    if (!plot.started) {
        say("no picture: cannot start \"" + command[0] + "\": " + plot.errors + " (" + options_.plotScript +
            " needs Python 3 with matplotlib; the samples are in " + recordPath + ")");
        return false;
    }
    if (plot.exitCode != 0) {
        say("no picture: " + options_.plotScript + " ended with exit code " + std::to_string(plot.exitCode) +
            " (the samples are in " + recordPath + ")" + (plot.errors.empty() ? "" : "; it said:"));
        std::cerr << plot.errors;
        if (!plot.errors.empty() && plot.errors.back() != '\n') {
            std::cerr << '\n';
        }
        std::cerr.flush();
        return false;
    }
    say("picture in " + options_.plot);
    return true;
}

int HostRun::run()
{
    // Without --record, --plot draws from a record of its own.
    if (options_.outputs.record.empty() && !options_.plot.empty()) {
        options_.outputs.record = options_.plot + ".jsonl";
    }
    const std::string& recordPath = options_.outputs.record;
    std::string refused;
    if (!outputsStandAlone(refused)) {
        say(refused + ": give the samples a file of their own");
        return kExitUsage;
    }

    LogSettings log = defaultLogSettings("vantrel-host");
    log.debugLevel = options_.debugLevel;
    log.enabled = options_.quiet ? 0 : 1;

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
    // The host's own storages; the publishers get what the devices publish
    // in them.
    HostStorage trackers(HostStorage::Kind::Tracker, log);
    HostStorage controllers(HostStorage::Kind::Controller, log);

    std::vector<std::unique_ptr<DeviceRunner>> devices;
    bool loaded = true;
    for (DeviceConfig& device : config_.devices()) {
        const std::size_t index = devices.size();
        const double predict = options_.predict.value_or(device.predict) / 1000.0;
        devices.push_back(std::make_unique<DeviceRunner>(device, static_cast<std::uint32_t>(index), trackers,
                                                         controllers, options_.health, recordCounts[index], predict));
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
    // configure is the first step that needs answers of the flock: when it
    // fails, the module has said what went wrong, and the host says where to
    // look.
    const struct Step {
        const char* name;
        bool (DeviceRunner::*call)();
        const char* hint;
    } steps[] = {{"init", &DeviceRunner::init, ""},
                 {"configure", &DeviceRunner::configure,
                  ": the flock did not answer as it should; check that it is switched on, the cable, that its baud "
                  "rate is the configuration's (38400 unless a baud line says otherwise), and the flock's address "
                  "switches"},
                 {"start", &DeviceRunner::start, ""}};
    for (const Step& step : steps) {
        for (auto& device : devices) {
            if (RunLoop::stopRequested()) {
                // Stopped before streaming: the devices are stopped and
                // deleted on the way out.
                return kExitOk;
            }
            if (!((*device).*step.call)()) {
                say(deviceText(config_, device->config()) + ": " + step.name + " failed" + step.hint);
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
    // A record that could not take its place (said by its publisher).
    if (result == kExitOk && publishers.broken()) {
        result = kExitUsage;
    }

    if (!options_.plot.empty() && !drawPicture(recordPath) && result == kExitOk) {
        result = kExitUsage;
    }
    return result;
}

}  // namespace host
