// The host program when a line fails, as a user meets it: a flock simulator
// in this process falls silent, hangs up and comes back, or is switched off
// and on, while vantrel-host runs in a process of its own. What it says, the
// status lines, the output IDs after a device is brought up again, the other
// device's samples meanwhile, and the samples that the line delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "FlockSimulator.h"
#include "Motion.h"
#include "host/ConfigFile.h"
#include "host/DeviceRunner.h"
#include "host/HostStorage.h"
#include "kit/HostProcess.h"
#include "kit/HostProgram.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"
#include "kit/TextFile.h"
#include "vantrel/SharedStorages.h"

namespace {

using Json = nlohmann::json;

double now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

using kit::contentOf;
using kit::linesOf;

using kit::HostProcess;

// A flock of an ERC and two sensors going round, on a stable link name.
struct LinkedFlock {
    LinkedFlock() : simulator(setup(marker.path() + ".line"))
    {
        std::string problem;
        started = simulator.start(problem);
        EXPECT_TRUE(started) << problem;
    }
    static flocksim::Setup setup(const std::string& link)
    {
        flocksim::Setup flock = flocksim::Setup::flock(3, 1);
        flock.motion = flocksim::circleMotion(0.5, 200);
        flock.linkPath = link;
        return flock;
    }
    std::string config(const std::string& name) const
    {
        return "device " + name + " \"" + kit::modulePath() + "\" 2\n  port " + simulator.linePath() + "\n";
    }
    kit::TempFile marker{""};
    flocksim::FlockSimulator simulator;
    bool started = false;
};

// The lines of one kind: status lines, or one device's tracker samples.
std::vector<Json> statusLines(const std::vector<std::string>& lines)
{
    std::vector<Json> found;
    for (const std::string& line : lines) {
        const Json json = Json::parse(line);
        if (json.contains("status")) {
            found.push_back(json);
        }
    }
    return found;
}

std::vector<Json> samplesOf(const std::vector<std::string>& lines, const std::string& device)
{
    std::vector<Json> found;
    for (const std::string& line : lines) {
        const Json json = Json::parse(line);
        if (json.contains("tracker") && json["device"] == device) {
            found.push_back(json);
        }
    }
    return found;
}

std::string statusSequence(const std::vector<Json>& lines)
{
    std::string sequence;
    for (const Json& line : lines) {
        sequence += (sequence.empty() ? "" : " ") + line["status"].get<std::string>();
    }
    return sequence;
}

// The status of the first device in the device table of shared storages NAME
// (as a reader reads it: one 32-bit load); -1 when there is no block.
int sharedStatus(const std::string& name)
{
    const int fd = ::open(("/dev/shm/" + name).c_str(), O_RDONLY);
    if (fd < 0) {
        return -1;
    }
    void* block = ::mmap(nullptr, kSharedBlockSize, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (block == MAP_FAILED) {
        return -1;
    }
    const auto* header = static_cast<const SharedStoragesHeader*>(block);
    const int status = static_cast<int>(__atomic_load_n(&header->devices[0].status, __ATOMIC_ACQUIRE));
    ::munmap(block, kSharedBlockSize);
    return status;
}

// A pulled cable for three seconds: silent within --silence + 1 s, said once,
// then ok again with samples; every record that the line delivered is a
// sample line. The state reaches the shared storages and OSC too.
TEST(HostRecovery, ASilenceIsSaidOnceAndEndsWhenTheLineResumes)
{
    LinkedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile dump("");
    const std::string name = kit::blockName(dump.path());
    const std::string port = std::to_string(20000 + std::hash<std::string>()(dump.path()) % 20000);
    ASSERT_EQ(std::system(("oscdump -L " + port + " >'" + dump.path() + "' 2>&1 & echo $! >'" + dump.path() +
                           ".pid'").c_str()),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    HostProcess host(flock.config("flock"), {"--duration", "9", "--silence", "1", "--reconnect-after", "60", "--shm",
                                             name, "--osc", "127.0.0.1:" + port});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"tracker\":2", 10.0)) << host.err();
    // A reader of the block follows the state too (it ends with the host).
    kit::TempFile watched("");
    ASSERT_EQ(std::system(("'" VANTREL_HOST_PATH "' watch " + name + " --format jsonl >'" + watched.path() +
                           "' 2>/dev/null &").c_str()),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sharedStatus(name), kSharedDeviceOk);
    const double pulled = now();
    flock.simulator.hangUpNow(flocksim::HangUp::Silence, std::chrono::milliseconds(3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(sharedStatus(name), kSharedDeviceSilent);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_EQ(sharedStatus(name), kSharedDeviceOk);
    // The end of the stream: the last record waits for a phasing byte that
    // never comes, every other one is on the line.
    flock.simulator.hangUpNow(flocksim::HangUp::Silence);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::uint64_t sent = flock.simulator.recordsSent();
    ASSERT_EQ(host.wait(), 0) << host.err();

    const std::vector<std::string> lines = host.out();
    const std::vector<Json> status = statusLines(lines);
    ASSERT_GE(status.size(), 2u) << host.err();
    EXPECT_EQ(statusSequence(status).substr(0, 16), "silent ok silent");
    EXPECT_LE(status[0]["time"].get<double>() - pulled, 2.0);
    EXPECT_GE(status[1]["time"].get<double>() - pulled, 3.0);
    // One line said for the silence, naming what to check.
    const std::vector<std::string> silent = host.said("silent");
    ASSERT_EQ(silent.size(), 2u) << host.err();
    EXPECT_EQ(silent[0], "vantrel-host: device \"flock\" (" + host.configPath() +
                             ":1): silent: no record for 1.0 s; check that the flock is switched on, the cable, the "
                             "port " + flock.simulator.linePath() +
                             " and the baud rate (the module's default); brought up again after 60.0 s more");
    EXPECT_TRUE(host.said("reconnecting").empty());
    // Samples after the line resumed, and every record delivered.
    const std::vector<Json> samples = samplesOf(lines, "flock");
    ASSERT_FALSE(samples.empty());
    EXPECT_GT(samples.back()["time"].get<double>(), status[1]["time"].get<double>());
    EXPECT_EQ(samples.size() + 1, sent);
    // watch: the same changes, from the block.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(statusSequence(statusLines(linesOf(contentOf(watched.path())))).substr(0, 16), "silent ok silent")
        << contentOf(watched.path());
    // OSC: the same changes as strings.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::system(("kill $(cat '" + dump.path() + ".pid'); rm -f '" + dump.path() + ".pid'").c_str());
    std::vector<std::string> changes;
    for (const std::string& line : linesOf(contentOf(dump.path()))) {
        if (line.find(" /vantrel/flock/status ") != std::string::npos) {
            changes.push_back(line.substr(line.find(' ') + 1));
        }
    }
    EXPECT_EQ(changes, (std::vector<std::string>{"/vantrel/flock/status s \"silent\"", "/vantrel/flock/status s \"ok\"",
                                                 "/vantrel/flock/status s \"silent\""}));
}

// Counts what reaches it.
class CountingPublisher : public host::Publisher {
public:
    void publish(const host::ReceivedRecord& record) override { samples += record.sampleCount; }
    std::atomic<std::uint64_t> samples{0};
};

// A still flock (every pose 0, so after the first record nothing changes and
// nothing is published) sends records all the time; a silent line sends
// none, and recvData then returns after its read time-out. The device's
// count of records tells the two apart where the published samples cannot.
TEST(HostRecovery, RecordsOfAStillFlockCountAndTheTimeOutsOfASilentLineDoNot)
{
    flocksim::FlockSimulator simulator(flocksim::Setup::flock(3, 1));
    std::string problem;
    ASSERT_TRUE(simulator.start(problem)) << problem;
    host::ConfigFile config;
    ASSERT_TRUE(config.parse("device flock \"" + kit::modulePath() + "\" 2\n  port " + simulator.linePath() + "\n",
                             "still.cfg"));
    LogSettings log = host::defaultLogSettings("flock");
    log.enabled = 0;
    host::HostStorage trackers(host::HostStorage::Kind::Tracker, log);
    host::HostStorage controllers(host::HostStorage::Kind::Controller, log);
    std::atomic<std::uint32_t> records{0};
    host::DeviceRunner device(config.devices()[0], 0, trackers, controllers, host::HealthOptions{}, records);
    ASSERT_TRUE(device.load(config, problem)) << problem;
    ASSERT_TRUE(device.create(log) && device.init() && device.configure() && device.start());
    CountingPublisher publisher;
    std::thread thread([&] { device.receive(publisher); });

    // Two receivers at 100 cycles a second.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::uint32_t streamed = records.load();
    EXPECT_GE(streamed, 300u);
    EXPECT_LE(streamed, 420u);
    EXPECT_EQ(publisher.samples.load(), 0u);

    simulator.hangUpNow(flocksim::HangUp::Silence);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::uint32_t silent = records.load();
    const auto lastRecord = device.facts().lastRecord;
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // two read time-outs
    EXPECT_EQ(records.load(), silent);
    EXPECT_EQ(device.facts().lastRecord, lastRecord);
    device.requestStop();
    thread.join();
}

// Samples per second of a list of samples between two times.
double rateBetween(const std::vector<Json>& samples, double from, double to)
{
    const auto count = std::count_if(samples.begin(), samples.end(), [&](const Json& sample) {
        const double time = sample["time"].get<double>();
        return time >= from && time < to;
    });
    return static_cast<double>(count) / (to - from);
}

// Two flocks; the second one's serial adapter is unplugged and plugged in
// again. It is lost, brought up again on the same output IDs within 3 s of
// its port's return, in the same run; the first one's samples go on as
// before.
TEST(HostRecovery, AnUnpluggedPortIsBroughtUpAgainAndTheOtherDeviceGoesOn)
{
    LinkedFlock first, second;
    ASSERT_TRUE(first.started && second.started);
    double back = 0.0;
    std::mutex backMutex;
    second.simulator.onNewLine([&](const std::string&) {
        std::lock_guard<std::mutex> lock(backMutex);
        back = now();
    });
    HostProcess host(first.config("first") + second.config("second"), {"--duration", "14"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"tracker\":4", 10.0)) << host.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const double pulled = now();
    second.simulator.hangUpNow(flocksim::HangUp::Close, std::chrono::milliseconds(2000));
    ASSERT_EQ(host.wait(), 0) << host.err();

    const std::vector<std::string> lines = host.out();
    const std::vector<Json> status = statusLines(lines);
    EXPECT_EQ(statusSequence(status).substr(0, 18), "lost reconnecting ") << host.err();
    ASSERT_FALSE(status.empty());
    const Json& ok = status.back();
    EXPECT_EQ(ok["status"], "ok");
    EXPECT_EQ(ok["device"], "second");
    double returned = 0.0;
    {
        std::lock_guard<std::mutex> lock(backMutex);
        returned = back;
    }
    ASSERT_GT(returned, 0.0);
    EXPECT_LT(ok["time"].get<double>() - returned, 3.0) << "back at " << std::fixed << returned;
    EXPECT_EQ(host.said("lost").size(), 1u) << host.err();
    EXPECT_EQ(host.said("ok again").size(), 1u) << host.err();
    // The same output IDs after as before.
    std::map<int, int> before, after;
    for (const Json& sample : samplesOf(lines, "second")) {
        ++(sample["time"].get<double>() < pulled ? before : after)[sample["tracker"].get<int>()];
    }
    EXPECT_EQ(before.size(), 2u);
    EXPECT_GT(before[3], 100);
    EXPECT_GT(before[4], 100);
    EXPECT_EQ(after.size(), 2u);
    EXPECT_GT(after[3], 50);
    EXPECT_GT(after[4], 50);
    // The first device's samples per second, during the outage against the
    // three seconds before: within 5 %.
    const std::vector<Json> samples = samplesOf(lines, "first");
    const double outageEnd = ok["time"].get<double>();
    const double was = rateBetween(samples, pulled - 3.0, pulled);
    const double during = rateBetween(samples, pulled, outageEnd);
    EXPECT_NEAR(during, was, 0.05 * was) << "samples per second before " << was << ", during the outage " << during;
    std::cout << "first device: " << was << " samples/s before, " << during << " during the outage of "
              << outageEnd - pulled << " s; second device ok " << outageEnd - returned << " s after its port returned\n";
}

// Switched off and on: the flock forgets its configuration; the silent
// device is brought up again, configure runs anew, and the poses are the
// flock's.
TEST(HostRecovery, APowerCycleConfiguresTheFlockAgain)
{
    LinkedFlock flock;
    ASSERT_TRUE(flock.started);
    HostProcess host(flock.config("flock"),
                     {"--duration", "12", "--silence", "1", "--reconnect-after", "1"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"tracker\":2", 10.0)) << host.err();
    flock.simulator.hangUpNow(flocksim::HangUp::PowerOff, std::chrono::milliseconds(3000));
    flock.simulator.clearLog();
    ASSERT_EQ(host.wait(), 0) << host.err();

    const std::vector<std::string> lines = host.out();
    const std::vector<Json> status = statusLines(lines);
    ASSERT_FALSE(status.empty()) << host.err();
    EXPECT_EQ(statusSequence(status).substr(0, 19), "silent reconnecting") << host.err();
    EXPECT_EQ(status.back()["status"], "ok");
    // What the flock received after it was switched on again: the whole
    // configuration (group mode, auto-configuration of 3 units, ...) and
    // the stream command.
    std::vector<std::vector<std::uint8_t>> commands;
    for (const flocksim::Command& command : flock.simulator.commands()) {
        commands.push_back(command.bytes);
    }
    for (const std::vector<std::uint8_t>& wanted : {std::vector<std::uint8_t>{0x50, 0x23, 0x01},
                                                   std::vector<std::uint8_t>{0x50, 0x32, 0x03},
                                                   std::vector<std::uint8_t>{0x40}}) {
        EXPECT_NE(std::find(commands.begin(), commands.end(), wanted), commands.end());
    }
    EXPECT_EQ(flock.simulator.flock().autoConfigUnits, 3u);
    EXPECT_TRUE(flock.simulator.unit(1).groupMode);
    EXPECT_TRUE(flock.simulator.unit(2).positionAngles);
    // Every sample after the flock came back is one of its poses.
    const flocksim::Motion motion = flocksim::circleMotion(0.5, 200);
    const char* names[6] = {"x", "y", "z", "azimuth", "elevation", "roll"};
    int checked = 0;
    for (const Json& sample : samplesOf(lines, "flock")) {
        if (sample["time"].get<double>() < status.back()["time"].get<double>()) {
            continue;
        }
        const std::uint32_t address = sample["tracker"].get<std::uint32_t>() + 1;
        bool found = false;
        for (std::uint64_t cycle = 0; cycle < 200 && !found; ++cycle) {
            const flocksim::Sample pose = motion(address, cycle);
            bool same = true;
            for (int i = 0; i < 6 && same; ++i) {
                // Full scale 12 feet and 180 degrees; CAVE coordinates negate
                // azimuth and roll.
                const double value = std::max(-1.0, pose.words[i] / 32767.0) * (i < 3 ? 12.0 : 180.0) *
                                     (i == 3 || i == 5 ? -1.0 : 1.0);
                same = std::fabs(sample[names[i]].get<double>() - value) <= 1e-5 + 2.5e-7 * std::fabs(value);
            }
            found = same;
        }
        EXPECT_TRUE(found) << sample.dump();
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

// A device lost for good ends the run with exit 1: under --no-reconnect at
// its port's failure, as without recovery; under --give-up-after when the
// attempts of one outage took that long. Each said once.
TEST(HostRecovery, ADeviceLostForGoodEndsTheRunWithExit1)
{
    {
        LinkedFlock flock;
        ASSERT_TRUE(flock.started);
        HostProcess host(flock.config("flock"), {"--duration", "30", "--no-reconnect"});
        ASSERT_TRUE(host.started());
        ASSERT_TRUE(host.waitForLine("\"tracker\":2", 10.0)) << host.err();
        flock.simulator.hangUpNow(flocksim::HangUp::Close);
        EXPECT_EQ(host.wait(), 1);
        EXPECT_EQ(host.said(""), std::vector<std::string>{"vantrel-host: device \"flock\" (" + host.configPath() +
                                                           ":1): lost: the port " + flock.simulator.linePath() +
                                                           " failed; check the cable or serial adapter and the "
                                                           "port name; not brought up again (--no-reconnect)"});
        EXPECT_EQ(statusSequence(statusLines(host.out())), "lost");
    }
    LinkedFlock flock;
    ASSERT_TRUE(flock.started);
    HostProcess host(flock.config("flock"), {"--duration", "30", "--give-up-after", "2"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"tracker\":2", 10.0)) << host.err();
    flock.simulator.hangUpNow(flocksim::HangUp::Close);
    EXPECT_EQ(host.wait(), 1);
    // Attempts after 0.5 and 1.5 s; at 2 s it gives up.
    const std::vector<Json> status = statusLines(host.out());
    EXPECT_EQ(statusSequence(status), "lost reconnecting reconnecting lost") << host.err();
    ASSERT_EQ(status.size(), 4u);
    EXPECT_NEAR(status[3]["time"].get<double>() - status[0]["since"].get<double>(), 2.0, 0.2);
    const std::vector<std::string> lost = host.said("lost:");
    ASSERT_EQ(lost.size(), 2u) << host.err();
    EXPECT_EQ(lost[1], "vantrel-host: device \"flock\" (" + host.configPath() +
                           ":1): lost: giving up after 2.0 s (--give-up-after); last attempt: the port " +
                           flock.simulator.linePath() +
                           " is not there: check the cable or serial adapter and the port name");
}

// Ctrl-C while a device is being brought up again: the first stops the run
// after the step under way, a second one ends the program at once.
TEST(HostRecovery, ASecondStopRequestDuringRecoveryEndsAtOnce)
{
    LinkedFlock flock;
    ASSERT_TRUE(flock.started);
    HostProcess host(flock.config("flock"), {"--duration", "30", "--silence", "1", "--reconnect-after", "0.5"});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"tracker\":2", 10.0)) << host.err();
    flock.simulator.hangUpNow(flocksim::HangUp::PowerOff);
    ASSERT_TRUE(host.waitForLine("\"status\":\"reconnecting\"", 10.0)) << host.err();
    // Now inside configure or stop, each of which takes a second or more.
    host.signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double second = now();
    host.signal(SIGINT);
    EXPECT_EQ(host.wait(), 130);
    EXPECT_LT(now() - second, 0.5);
    EXPECT_EQ(host.said("second stop"),
              std::vector<std::string>{
                  "vantrel-host: a second stop request while a device was brought up again: ending at once"});
}

}  // namespace
