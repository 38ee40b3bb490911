// Configure, start and stop against a simulated flock: the exact bytes on
// the line, and what the device makes of the flock's replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "kit/DeviceHost.h"
#include "kit/FlockPartner.h"
#include "kit/StdoutCapture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The same command behind the prefix of each address, in normal addressing.
Bytes toUnits(std::initializer_list<std::uint8_t> addresses, const Bytes& command)
{
    Bytes all;
    for (std::uint8_t address : addresses) {
        all.push_back(static_cast<std::uint8_t>(0xF0 + address));
        all.insert(all.end(), command.begin(), command.end());
    }
    return all;
}

const Bytes kGroupModeOn{0x50, 0x23, 0x01, 0x4F, 0x23};
const Bytes kSystemStatus{0x4F, 0x24};
const Bytes kHemisphere{0x4C, 0x0C, 0x00};
const Bytes kReferenceFrame{0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00};
const Bytes kPositionAngles{0x59};

Bytes autoConfig(std::uint8_t units)
{
    return {0x50, 0x32, units};
}

// The flock received exactly these bytes (waiting for them first: the
// simulator reads on a thread of its own).
void expectReceived(const kit::FlockPartner& partner, const Bytes& expected)
{
    partner.waitForReceived(expected.size(), 2000);
    EXPECT_EQ(partner.received(), expected);
}

// A device on a simulated flock, initialised.
struct Rig {
    Rig(const flocksim::Setup& setup, const std::string& options, std::int32_t debugLevel = 0)
        : partner(setup), host(config(options), debugLevel)
    {
        initialise();
    }

    Rig(const flocksim::Setup& setup, const std::string& options, const LogSettings& settings)
        : partner(setup), host(config(options), settings)
    {
        initialise();
    }

    void initialise()
    {
        kit::StdoutCapture capture;
        initResult = host.init();
        initOutput = capture.text();
    }

    std::string config(const std::string& options) const
    {
        return "Vantrel " + options + "\nport " + partner.portName() + "\n";
    }

    std::int32_t configure(std::string* output = nullptr)
    {
        kit::StdoutCapture capture;
        const std::int32_t result = host.device().configure();
        if (output != nullptr) {
            *output = capture.text();
        }
        return result;
    }

    kit::FlockPartner partner;
    kit::DeviceHost host;
    std::int32_t initResult = 0;
    std::string initOutput;
};

// What configure sends with the default options to a flock of an ERC and
// two receivers.
const Bytes kDefaultConfiguration = join({kGroupModeOn, autoConfig(3), kSystemStatus, toUnits({2, 3}, kHemisphere),
                                          toUnits({2, 3}, kReferenceFrame), toUnits({2, 3}, kPositionAngles), {0x51}});

TEST(DeviceRun, DefaultConfiguration)
{
    Rig rig(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    EXPECT_EQ(rig.configure(), 2);
    expectReceived(rig.partner, kDefaultConfiguration);
}

TEST(DeviceRun, ErcFurtherDownTheBus)
{
    Rig rig(flocksim::Setup::flock(3, 3), "2\nerc 3");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    EXPECT_EQ(rig.configure(), 2);
    expectReceived(rig.partner, join({{0x30, 0x30}, kGroupModeOn, autoConfig(3), kSystemStatus, toUnits({1, 2}, kHemisphere),
                    toUnits({1, 2}, kReferenceFrame), toUnits({1, 2}, kPositionAngles), {0x51}}));
}

TEST(DeviceRun, SrtWithLongRangeScalingReachesUnitsOnFirstConfigure)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 0);
    setup.units[1].srt = true;
    Rig rig(setup, "2\nsrt 2\nscaling 72\nmeasurementrate 144");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    EXPECT_EQ(rig.configure(), 2);
    expectReceived(rig.partner, join({{0x30, 0x20}, kGroupModeOn, autoConfig(2), kSystemStatus,
                    toUnits({1, 2}, {0x50, 0x03, 0x01, 0x00}), toUnits({1, 2}, {0x50, 0x07, 0x00, 0x90}),
                    toUnits({1, 2}, kHemisphere), toUnits({1, 2}, kReferenceFrame),
                    toUnits({1, 2}, kPositionAngles), {0x51}}));
}

TEST(DeviceRun, OptionalCommandsAndMouse)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[2].mouse = true;
    Rig rig(setup, "\nsync type3\nfilter yes\nhemisphere -x\ncavecoord off\nreportrate 8\nmouse 3");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    EXPECT_EQ(rig.configure(), 1);
    expectReceived(rig.partner, join({{0x41, 0x03}, kGroupModeOn, autoConfig(3), kSystemStatus, {0x50, 0x04, 0x00, 0x00},
                    toUnits({2, 3}, {0x4C, 0x00, 0x01}), toUnits({2, 3}, kPositionAngles),
                    toUnits({3}, {0x4D, 0x01}), {0x53}}));
}

TEST(DeviceRun, ExpandedAndSuperAddressing)
{
    {
        flocksim::Setup setup = flocksim::Setup::flock(17, 1);
        setup.maxAddress = 30;
        Rig rig(setup, "16\naddressingmode expanded\ncavecoord no");
        ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
        EXPECT_EQ(rig.configure(), 2);
        Bytes hemisphere;
        Bytes positionAngles;
        for (std::uint8_t address = 2; address <= 17; ++address) {
            const std::uint8_t prefix = address <= 15 ? 0xF0 + address : 0xE0 + (address - 16);
            hemisphere.insert(hemisphere.end(), {prefix, 0x4C, 0x0C, 0x00});
            positionAngles.insert(positionAngles.end(), {prefix, 0x59});
        }
        expectReceived(rig.partner, join({kGroupModeOn, autoConfig(17), kSystemStatus, hemisphere, positionAngles, {0x51}}));
    }
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.maxAddress = 126;
    Rig rig(setup, "2\naddressingmode super\ncavecoord off");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    EXPECT_EQ(rig.configure(), 2);
    expectReceived(rig.partner, join({kGroupModeOn, autoConfig(3), kSystemStatus, {0xA0, 0x02, 0x4C, 0x0C, 0x00, 0xA0, 0x03, 0x4C, 0x0C, 0x00},
                    {0xA0, 0x02, 0x59, 0xA0, 0x03, 0x59}, {0x51}}));
}

TEST(DeviceRun, GroupModeRefused)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.groupModeReply = 0;
    Rig rig(setup, "");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    std::string output;
    EXPECT_EQ(rig.configure(&output), 0);
    EXPECT_EQ(output, "Dev: ERROR: CVantrel: Could not start group mode.\n");
    expectReceived(rig.partner, kGroupModeOn);
}

TEST(DeviceRun, UnitNotRunningFailsOnlyWithDebugOutput)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[2].running = false;
    {
        Rig rig(setup, "");
        ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
        std::string output;
        EXPECT_EQ(rig.configure(&output), 2);
        EXPECT_EQ(output, "");
    }
    Rig rig(setup, "", 1);
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    std::string output;
    EXPECT_EQ(rig.configure(&output), 0);
    expectReceived(rig.partner, join({kGroupModeOn, autoConfig(3), kSystemStatus}));
    const Lines expectedTail{
        "Dev: DEBUG: CVantrel: Checking system status.",
        "Dev: DEBUG: CVantrel: Receiving system status.",
        "Dev: DEBUG: CVantrel: Receiving system status done.",
        "Dev: DEBUG: CVantrel: Flock device 1 (unitID 0): running, ERC-0",
        "Dev: DEBUG: CVantrel: Flock device 2 (unitID 1): running, Receiver",
        "Dev: DEBUG: CVantrel: Flock device 3 (unitID 2): not-running, Receiver",
        "Dev: ERROR: CVantrel: At least one device is not running.",
        "Dev: DEBUG: CVantrel: Checking system status done.",
    };
    kit::StdoutCapture split;
    std::cout << output << std::flush;
    const Lines lines = split.lines();
    ASSERT_GE(lines.size(), expectedTail.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(expectedTail.size()), lines.end()), expectedTail);
}

// The lines of the status report in the output.
Lines statusLines(const std::string& output)
{
    kit::StdoutCapture split;
    std::cout << output << std::flush;
    Lines lines;
    for (const std::string& line : split.lines()) {
        if (line.find("CVantrel: Flock device ") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

// A line that an earlier host left dirty: configure reads the flock's true
// replies or fails with its message, and never takes a shifted one.
TEST(DeviceRun, ConfigureReadsTheTrueRepliesOnALineLeftDirty)
{
    const Lines trueStatus{
        "Dev: DEBUG: CVantrel: Flock device 1 (unitID 0): running, ERC-0",
        "Dev: DEBUG: CVantrel: Flock device 2 (unitID 1): running, Receiver",
        "Dev: DEBUG: CVantrel: Flock device 3 (unitID 2): running, Receiver",
    };
    {
        // One byte left over: it would pass for the group-mode reply and
        // shift every status byte.
        flocksim::Setup setup = flocksim::Setup::flock(3, 1);
        setup.leftOver.staleBytes = {0x01};
        Rig rig(setup, "", 1);
        ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
        std::string output;
        EXPECT_EQ(rig.configure(&output), 2) << output;
        EXPECT_EQ(statusLines(output), trueStatus) << output;
        expectReceived(rig.partner, kDefaultConfiguration);
    }
    // A flock still streaming: changing its group mode ends the stream.
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.leftOver.streamingAtStart = true;
    setup.rate = 50.0;
    Rig rig(setup, "", 1);
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // records wait on the line
    std::string output;
    const std::int32_t result = rig.configure(&output);
    if (result == 0) {
        EXPECT_NE(output.find("Dev: ERROR: CVantrel: Could not start group mode.\n"), std::string::npos) << output;
        EXPECT_EQ(statusLines(output), Lines{}) << output;
    } else {
        EXPECT_EQ(result, 2) << output;
        EXPECT_EQ(statusLines(output), trueStatus) << output;
        expectReceived(rig.partner, kDefaultConfiguration);
    }
}

// A flock left streaming that finishes the group of its cycle before the
// group-mode change stops it: configure waits for the line to fall quiet at
// the line's rate, slow or fast, and reads the true reply every time.
TEST(DeviceRun, GroupModeChangeWaitsForTheGroupUnderWay)
{
    struct Line {
        int baud;
        std::uint8_t units;  // an ERC and receivers
    };
    for (const Line line : {Line{1200, 4}, Line{115200, 9}}) {
        int failed = 0;
        for (int run = 0; run < 10; ++run) {
            SCOPED_TRACE(std::to_string(line.baud) + " baud, run " + std::to_string(run));
            flocksim::Setup setup = flocksim::Setup::flock(line.units, 1);
            setup.leftOver.streamingAtStart = true;
            setup.finishesGroup = true;
            setup.rate = 0;  // records back to back
            Rig rig(setup, std::to_string(line.units - 1) + "\nbaud " + std::to_string(line.baud) + "\ncavecoord off");
            ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
            std::this_thread::sleep_for(std::chrono::milliseconds(run * 7));  // somewhere in a group
            std::string output;
            if (rig.configure(&output) != 2) {
                ++failed;
                continue;
            }
            Bytes units;
            for (std::uint8_t address = 2; address <= line.units; ++address) {
                units.push_back(address);
            }
            Bytes hemisphere;
            Bytes positionAngles;
            for (const std::uint8_t address : units) {
                hemisphere.insert(hemisphere.end(), {static_cast<std::uint8_t>(0xF0 + address), 0x4C, 0x0C, 0x00});
                positionAngles.insert(positionAngles.end(), {static_cast<std::uint8_t>(0xF0 + address), 0x59});
            }
            expectReceived(rig.partner,
                           join({kGroupModeOn, autoConfig(line.units), kSystemStatus, hemisphere, positionAngles, {0x51}}));
        }
        EXPECT_EQ(failed, 0) << line.baud << " baud: configure failed " << failed << " times of 10";
    }
}

TEST(DeviceRun, UnitBeyondTheConfiguredBusShowsUnitIdZero)
{
    flocksim::Setup setup = flocksim::Setup::flock(4, 1);
    Rig rig(setup, "2", 1);  // the flock has one unit more than configured
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    std::string output;
    EXPECT_EQ(rig.configure(&output), 2);
    EXPECT_NE(output.find("Dev: DEBUG: CVantrel: Flock device 4 (unitID 0): running, Receiver\n"), std::string::npos)
        << output;
}

TEST(DeviceRun, StartStreamsAndStopPutsTheFlockToSleep)
{
    Rig rig(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    ASSERT_EQ(rig.configure(), 2);
    // The simulator reads on a thread of its own: the configuration must be
    // in its log before the log is cleared, or its tail would be left there.
    expectReceived(rig.partner, kDefaultConfiguration);
    rig.partner.clearLog();
    bool started = false;
    bool stopped = false;
    std::chrono::steady_clock::duration elapsed{};
    std::int32_t configuredAgain = -1;
    std::string output;
    {
        kit::StdoutCapture capture;
        started = rig.host.device().start();
        rig.host.device().setPauseDivisor(1);
        const auto begin = std::chrono::steady_clock::now();
        stopped = rig.host.device().stop();
        elapsed = std::chrono::steady_clock::now() - begin;
        // The port is closed: the next command fails at its first write.
        configuredAgain = rig.host.device().configure();
        output = capture.text();
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(stopped);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
    // Records streamed in between are of no interest here: only the commands.
    expectReceived(rig.partner, (Bytes{0x40, 0x42, 0x47}));
    EXPECT_EQ(configuredAgain, 0);
    EXPECT_NE(output.find("Dev: ERROR: CVantrel: Starting group mode failed.\n"), std::string::npos) << output;
}

TEST(DeviceRun, UnsupportedBaudRateFailsInit)
{
    kit::FlockPartner partner(flocksim::Setup::flock(3, 1));
    kit::DeviceHost host("Vantrel\nport " + partner.portName() + "\nbaud 14400\n");
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    const Lines lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Dev: ERROR: CRS232H: Could not set the baud rate 14400");
}

TEST(DeviceRun, StopFailsWhenTheCalibrationLibraryCannotExit)
{
    Rig rig(flocksim::Setup::flock(3, 1), std::string("\ncalibration ") + VANTREL_CALIB_NOEXIT_PATH, 3);
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    rig.host.device().setPauseDivisor(100);
    std::string output;
    bool stopped = true;
    {
        kit::StdoutCapture capture;
        stopped = rig.host.device().stop();
        output = capture.text();
    }
    EXPECT_FALSE(stopped);
    EXPECT_NE(output.find("Dev: DEBUG: CCalibH: could not call \"calib_exit\".\n"), std::string::npos) << output;
    expectReceived(rig.partner, (Bytes{0x42, 0x47}));
}

TEST(DeviceCommands, NextTransmitterAddresses)
{
    Rig rig(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    CVantrel& device = rig.host.device();
    kit::StdoutCapture capture;
    EXPECT_TRUE(device.commands().sendNextTransmitter(1, 0));
    EXPECT_FALSE(device.commands().sendNextTransmitter(0, 0));
    EXPECT_FALSE(device.commands().sendNextTransmitter(4, 0));
    EXPECT_TRUE(device.commands().sendNextTransmitter(3, 0));
    EXPECT_FALSE(device.commands().setSync(4));
    ASSERT_TRUE(rig.partner.waitForReceived(2, 1000));
    expectReceived(rig.partner, (Bytes{0x30, 0x30}));
    EXPECT_EQ(capture.text(), "");
}

TEST(DeviceCommands, NextTransmitterRefusesAddressesBeyondFourBits)
{
    flocksim::Setup setup = flocksim::Setup::flock(17, 1);
    setup.maxAddress = 30;
    Rig rig(setup, "16\naddressingmode expanded");
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    kit::StdoutCapture capture;
    EXPECT_FALSE(rig.host.device().commands().sendNextTransmitter(16, 0));
    EXPECT_EQ(capture.text(), "Dev: ERROR: CVantrel: Sending Next-Transmitter command failed.\n");
    expectReceived(rig.partner, Bytes{});
}

// The status names the ERC: the command set says where it found it and
// leaves the device's options alone; configure stores it for the report.
TEST(DeviceCommands, TheStatusReportsTheErcItFoundAndTheDeviceStoresIt)
{
    Rig rig(flocksim::Setup::flock(3, 3), "", 1);  // configured with its ERC at 1
    ASSERT_EQ(rig.initResult, 1) << rig.initOutput;
    CVantrel& device = rig.host.device();
    auto transmitterLine = [&device] {
        kit::StdoutCapture capture;
        device.print();
        for (const std::string& line : capture.lines()) {
            if (line.find("TRANSMITTER") != std::string::npos) {
                return line;
            }
        }
        return std::string();
    };
    {
        kit::StdoutCapture quiet;
        EXPECT_TRUE(device.commands().checkSystemStatus());
    }
    EXPECT_EQ(device.commands().ercFound(), 3u);
    EXPECT_EQ(transmitterLine(), "Dev: INFO: TRANSMITTER           : ERC on device ID:1");
    std::string output;
    rig.configure(&output);
    EXPECT_EQ(transmitterLine(), "Dev: INFO: TRANSMITTER           : ERC on device ID:3") << output;
}

}  // namespace
