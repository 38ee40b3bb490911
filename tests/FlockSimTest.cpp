// The flock simulator: its command decoding, its answers, the state it keeps,
// its records and its faults. The host side of the line is the real serial
// port handle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CommandDecoder.h"
#include "CommandLine.h"
#include "FlockSimulator.h"
#include "Motion.h"
#include "SetupOptions.h"
#include "WineComLink.h"
#include "common/CLogH.h"
#include "kit/HostStorage.h"
#include "kit/PortReading.h"
#include "kit/StdoutCapture.h"
#include "kit/TempFile.h"
#include "serial/CRS232H.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Commands = std::vector<flocksim::Command>;

Commands decodeAll(std::uint32_t maxAddress, const Bytes& bytes)
{
    flocksim::CommandDecoder decoder(maxAddress);
    Commands commands;
    for (const std::uint8_t byte : bytes) {
        flocksim::Command command;
        if (decoder.feed(byte, command)) {
            commands.push_back(command);
        }
    }
    EXPECT_TRUE(decoder.idle());
    return commands;
}

flocksim::Command unknown(std::uint32_t address, Bytes bytes)
{
    return flocksim::Command{address, std::move(bytes), false};
}

TEST(FlockSim, DecodesCommandsAndPrefixesInEveryAddressingMode)
{
    // Normal addressing: one byte 0xF0 + address, 1 to 14.
    EXPECT_EQ(decodeAll(14, {0xF2, 0x4C, 0x0C, 0x00, 0xF3, 0x4C, 0x0C, 0x00, 0xFE, 0x59, 0xFF, 0xE0, 0x59}),
              (Commands{{2, {0x4C, 0x0C, 0x00}},
                        {3, {0x4C, 0x0C, 0x00}},
                        {14, {0x59}},
                        unknown(0, {0xFF}),
                        unknown(0, {0xE0}),
                        {0, {0x59}}}));
    // Expanded: 0xF0 + address for 1 to 15, 0xE0 + address - 16 for 16 to 30.
    EXPECT_EQ(decodeAll(30, {0xF1, 0x59, 0xFF, 0x59, 0xE0, 0x59, 0xEE, 0x4D, 0x01, 0xEF}),
              (Commands{{1, {0x59}}, {15, {0x59}}, {16, {0x59}}, {30, {0x4D, 0x01}}, unknown(0, {0xEF})}));
    // Super: 0xA0 and the address, 1 to 126.
    EXPECT_EQ(decodeAll(126, {0xA0, 0x64, 0x59, 0xA0, 0x7E, 0x41, 0x02, 0xA0, 0x00, 0xF2}),
              (Commands{{100, {0x59}}, {126, {0x41, 0x02}}, unknown(0, {0xA0, 0x00}), unknown(0, {0xF2})}));
    // Parameter counts, unknown parameters and command bytes, a prefix that
    // no command followed.
    EXPECT_EQ(decodeAll(14, {0x50, 0x07, 0x00, 0x90, 0x50, 0x23, 0x01, 0x50, 0x32, 0x03, 0x50, 0x03, 0x01, 0x00,
                             0x50, 0x04, 0x00, 0x00, 0x50, 0x63, 0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00, 0x4F,
                             0x24, 0x4F, 0x05, 0x30, 0x30, 0x52, 0x40, 0x42, 0x47, 0x7A, 0xF2, 0xF3, 0x59}),
              (Commands{{0, {0x50, 0x07, 0x00, 0x90}},
                        {0, {0x50, 0x23, 0x01}},
                        {0, {0x50, 0x32, 0x03}},
                        {0, {0x50, 0x03, 0x01, 0x00}},
                        {0, {0x50, 0x04, 0x00, 0x00}},
                        unknown(0, {0x50, 0x63}),
                        {0, {0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00}},
                        {0, {0x4F, 0x24}},
                        unknown(0, {0x4F, 0x05}),
                        {0, {0x30, 0x30}},
                        {0, {0x52}},
                        {0, {0x40}},
                        {0, {0x42}},
                        {0, {0x47}},
                        unknown(0, {0x7A}),
                        unknown(0, {0xF2}),
                        {3, {0x59}}}));
}

TEST(FlockSim, EncodesRecordsAsTheUnitsSendThem)
{
    flocksim::Sample sample;
    sample.words = {0, 0, 0, 0x4000, 0, 0};
    std::uint8_t record[flocksim::kMaxRecordLength];
    ASSERT_EQ(flocksim::encodeRecord(sample, false, 2, record), 13u);
    EXPECT_EQ(Bytes(record, record + 13), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0x02}));
    sample.words = {0x7FFC, -32768, -4, 0, 0, 0};
    sample.buttons = 0x30;
    ASSERT_EQ(flocksim::encodeRecord(sample, true, 0, record), 13u);
    EXPECT_EQ(Bytes(record, record + 13), (Bytes{0xFF, 0x3F, 0x00, 0x40, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 0x30}));
    EXPECT_EQ(flocksim::wordFromBytes(0xFF, 0x3F), 0x7FFC);
    EXPECT_EQ(flocksim::wordFromBytes(0x80, 0x40), -32768);
    EXPECT_EQ(flocksim::wordFromFraction(1.0), 0x7FFC);
    EXPECT_EQ(flocksim::wordFromFraction(-1.0), -32768);
    EXPECT_EQ(flocksim::wordFromFraction(0.5) & 3, 0);
}

// A flock on a pseudo-terminal with the serial port handle as the host.
class FlockLine : public ::testing::Test {
protected:
    void startFlock(flocksim::Setup setup)
    {
        simulator = std::make_unique<flocksim::FlockSimulator>(std::move(setup));
        std::string error;
        ASSERT_TRUE(simulator->start(error)) << error;
        ASSERT_TRUE(port.openPort(simulator->linePath().c_str()));
        PortAttributes attributes = kit::simulatorLine(300);
        ASSERT_TRUE(port.setAttributes(&attributes));
    }

    void write(const Bytes& bytes)
    {
        ASSERT_EQ(port.writeBytes(bytes.data(), static_cast<std::int32_t>(bytes.size())),
                  static_cast<std::int32_t>(bytes.size()));
    }

    // Reads until count bytes came or the line stays quiet for a time-out.
    Bytes read(std::size_t count) { return kit::readUntilQuiet(port, count); }

    // Sends a command and waits until the flock has taken it.
    void command(const Bytes& bytes)
    {
        const std::size_t before = simulator->commands().size();
        write(bytes);
        ASSERT_TRUE(simulator->waitForCommands(before + 1, 2000));
    }

    // Splits a byte stream at the phasing bits into records; the part before
    // the first phasing byte and the last record (maybe cut short) are left out.
    static std::vector<Bytes> records(const Bytes& stream)
    {
        std::vector<Bytes> result;
        Bytes current;
        bool started = false;
        for (const std::uint8_t byte : stream) {
            if ((byte & 0x80) != 0) {
                if (started) {
                    result.push_back(current);
                }
                started = true;
                current.assign(1, byte);
            } else if (started) {
                current.push_back(byte);
            }
        }
        return result;
    }

    std::unique_ptr<flocksim::FlockSimulator> simulator;
    CLogH log{kit::plainLogSettings("T")};
    CRS232H port{&log};
};

TEST_F(FlockLine, AnswersTheGroupModeAndStatusQueries)
{
    flocksim::Setup setup = flocksim::Setup::flock(5, 1);
    setup.maxAddress = 30;
    setup.units[0].ercTransmitters = 0x3;
    setup.units[2].mouse = true;
    setup.units[3].running = false;
    setup.units[4].status = 0xA0;
    startFlock(setup);
    write({0x4F, 0x23});
    EXPECT_EQ(read(1), (Bytes{0}));
    write({0x50, 0x23, 0x01, 0x4F, 0x23});
    EXPECT_EQ(read(1), (Bytes{1}));
    write({0x4F, 0x24});
    Bytes expected(30, 0);
    expected[0] = 0xD3;  // in use, running, ERC with transmitters 0 and 1
    expected[1] = 0xE0;  // in use, running, receiver
    expected[2] = 0xE0;
    expected[3] = 0xA0;  // not running
    expected[4] = 0xA0;
    EXPECT_EQ(read(31), expected);  // 30 bytes, then nothing

    flocksim::Setup refusing = flocksim::Setup::flock(2, 1);
    refusing.groupModeReply = 0;
    port.closePort();
    startFlock(refusing);
    write({0x50, 0x23, 0x01, 0x4F, 0x23});
    EXPECT_EQ(read(2), (Bytes{0}));
}

TEST_F(FlockLine, KeepsEveryUnitsStateAndLogsEachCommand)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[2].mouse = true;
    startFlock(setup);
    const Bytes configure = {0x30, 0x30, 0x41, 0x01, 0x50, 0x23, 0x01, 0x50, 0x32, 0x03, 0xF2, 0x50, 0x03, 0x01,
                             0x00, 0xF3, 0x50, 0x07, 0x00, 0x90, 0xF2, 0x4C, 0x0C, 0x01, 0xF3, 0x72, 0x00, 0xC0,
                             0x00, 0x40, 0x00, 0x00, 0xF2, 0x59, 0xF3, 0x4D, 0x01, 0x53, 0x50, 0x04, 0x00, 0x00};
    write(configure);
    ASSERT_TRUE(simulator->waitForCommands(12, 2000));
    EXPECT_EQ(simulator->commands(), (Commands{{0, {0x30, 0x30}},
                                               {0, {0x41, 0x01}},
                                               {0, {0x50, 0x23, 0x01}},
                                               {0, {0x50, 0x32, 0x03}},
                                               {2, {0x50, 0x03, 0x01, 0x00}},
                                               {3, {0x50, 0x07, 0x00, 0x90}},
                                               {2, {0x4C, 0x0C, 0x01}},
                                               {3, {0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00}},
                                               {2, {0x59}},
                                               {3, {0x4D, 0x01}},
                                               {0, {0x53}},
                                               {0, {0x50, 0x04, 0x00, 0x00}}}));
    EXPECT_EQ(simulator->received(), configure);
    const flocksim::FlockState flock = simulator->flock();
    EXPECT_EQ(flock.transmitterAddress, 3u);
    EXPECT_EQ(flock.transmitterNumber, 0u);
    EXPECT_EQ(flock.autoConfigUnits, 3u);
    const flocksim::UnitState line = simulator->unit(1);
    EXPECT_TRUE(line.groupMode);
    EXPECT_EQ(line.sync, 1);
    EXPECT_EQ(line.reportRate, 0x53);
    EXPECT_TRUE(line.filterSet);
    const flocksim::UnitState second = simulator->unit(2);
    EXPECT_EQ(second.scaling, 1);
    EXPECT_EQ(second.hemisphere, 0x0C01);
    EXPECT_TRUE(second.positionAngles);
    EXPECT_FALSE(second.buttonMode);
    const flocksim::UnitState third = simulator->unit(3);
    EXPECT_EQ(third.measurementRate, 0x9000);
    EXPECT_TRUE(third.referenceFrameSet);
    EXPECT_EQ(third.referenceFrame[0], -16384);
    EXPECT_EQ(third.referenceFrame[1], 16384);
    EXPECT_EQ(third.referenceFrame[2], 0);
    EXPECT_TRUE(third.buttonMode);
    EXPECT_FALSE(third.positionAngles);

    command({0x47});
    EXPECT_TRUE(simulator->unit(2).asleep);
    EXPECT_TRUE(simulator->unit(3).asleep);
    command({0x4F, 0x23});
    EXPECT_EQ(read(1), (Bytes{1}));
    EXPECT_FALSE(simulator->unit(3).asleep);
}

TEST_F(FlockLine, StreamsGroupModeRecordsUntilPoint)
{
    for (const double rate : {200.0, 0.0}) {
        SCOPED_TRACE(rate);
        flocksim::Setup setup = flocksim::Setup::flock(4, 1);
        setup.units[2].mouse = true;
        setup.units[3].running = false;
        setup.rate = rate;
        flocksim::Sample sample;
        sample.words = {100, -200, 400, 0x4000, -0x4000, 0x7FFC};
        setup.motion = flocksim::withButtons(flocksim::stillMotion(sample), {{0x10, 3}, {0x70, 2}});
        if (simulator) {
            port.closePort();
        }
        startFlock(setup);
        command({0x50, 0x23, 0x01});
        command({0xF3, 0x4D, 0x01});
        command({0x40});
        EXPECT_TRUE(simulator->unit(2).streaming);
        const std::vector<Bytes> got = records(read(27 * 40));
        ASSERT_GE(got.size(), 60u);
        // Each cycle: the receiver at 2, then the one with the mouse at 3.
        for (std::size_t i = 0; i < got.size(); ++i) {
            const Bytes& record = got[i];
            const std::uint8_t address = static_cast<std::uint8_t>(2 + i % 2);
            ASSERT_EQ(record.back(), address) << i;
            ASSERT_EQ(record.size(), address == 3 ? 14u : 13u) << i;
            for (std::size_t word = 0; word < 6; ++word) {
                EXPECT_EQ(flocksim::wordFromBytes(record[2 * word], record[2 * word + 1]), sample.words[word]);
            }
            for (std::size_t at = 1; at < record.size(); ++at) {
                EXPECT_EQ(record[at] & 0x80, 0);
            }
            if (address == 3) {
                EXPECT_EQ(record[12], (i / 2) % 5 < 3 ? 0x10 : 0x70) << i;
            }
        }
        // POINT ends the stream: after the records on their way and one
        // answer per receiver, the line stays quiet.
        command({0x42});
        EXPECT_FALSE(simulator->unit(2).streaming);
        read(1 << 20);
        EXPECT_EQ(read(1), Bytes{});
    }
}

TEST_F(FlockLine, WithoutGroupModeOnlyTheLineUnitStreamsAndNamesNoAddress)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 0);
    startFlock(setup);
    command({0x40});
    const std::vector<Bytes> got = records(read(12 * 20));
    ASSERT_GE(got.size(), 10u);
    for (const Bytes& record : got) {
        EXPECT_EQ(record.size(), 12u);
    }
    EXPECT_TRUE(simulator->unit(1).streaming);
    EXPECT_FALSE(simulator->unit(2).streaming);
    command({0x47});
    read(1 << 20);
    EXPECT_EQ(read(1), Bytes{});
}

TEST_F(FlockLine, NoiseAndDroppedBytes)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.rate = 0;
    setup.faults.noiseEvery = 4;
    setup.faults.noiseLength = 3;
    setup.faults.dropEvery = 5;
    setup.faults.hangUpAfter = 40;
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    const Bytes stream = read(1 << 16);
    ASSERT_TRUE(simulator->hungUp());
    EXPECT_EQ(simulator->recordsSent(), 40u);
    // 40 records of 13 bytes, 8 of them one byte short, 10 times 3 noise bytes.
    EXPECT_EQ(stream.size(), 40u * 13u - 8u + 10u * 3u);
}

TEST_F(FlockLine, RecordsCutShortBurstsAndTheirMarks)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.rate = 0;
    setup.faults.cutEvery = 4;
    setup.faults.burstEvery = 11;   // never on a record that is cut short
    setup.faults.burstLength = 20;  // runs from its record into the next
    setup.faults.hangUpAfter = 40;
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    const Bytes stream = read(1 << 16);
    ASSERT_TRUE(simulator->hungUp());
    const std::vector<flocksim::FaultMark> marks = simulator->faultMarks();
    std::size_t cuts = 0;
    std::size_t bursts = 0;
    for (const flocksim::FaultMark& mark : marks) {
        if (mark.kind == flocksim::FaultKind::Cut) {
            EXPECT_EQ(mark.firstRecord % 4, 0u);
            ++cuts;
        } else {
            ASSERT_EQ(mark.kind, flocksim::FaultKind::Burst);
            EXPECT_EQ(mark.firstRecord % 11, 0u);
            // 20 bytes from a byte of a record of at most 13 reach into the
            // next one, and from byte 7 on into the one after that.
            const std::uint64_t last = std::min<std::uint64_t>(40, mark.firstRecord + (mark.openingLost ? 1 : 2));
            EXPECT_LE(mark.lastRecord, last);
            EXPECT_GE(mark.lastRecord, std::min<std::uint64_t>(40, mark.firstRecord + 1));
            ++bursts;
        }
    }
    EXPECT_EQ(cuts, 10u);
    EXPECT_EQ(bursts, 3u);
    // A cut keeps at least the phasing byte and loses at least one byte;
    // a burst replaces bytes and removes none.
    EXPECT_GE(stream.size(), 40u * 13u - 10u * 12u);
    EXPECT_LE(stream.size(), 40u * 13u - 10u);

    // The status reply stops after the bytes it is allowed.
    for (const int statusBytes : {0, 5}) {
        flocksim::Setup silent = flocksim::Setup::flock(2, 1);
        silent.faults.statusBytes = statusBytes;
        port.closePort();
        startFlock(silent);
        write({0x4F, 0x24});
        EXPECT_EQ(read(14).size(), static_cast<std::size_t>(statusBytes));
    }
}

// Hours of faults leave the simulator's size as it was: the marks of the
// faults are kept for the last few thousand records, the newest among them.
TEST_F(FlockLine, ALongRunUnderFaultsKeepsOnlyTheRecentMarks)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.rate = 0;
    setup.faults.noiseEvery = 1;
    setup.faults.hangUpAfter = 20000;
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    read(20000 * 14 + 1);
    ASSERT_TRUE(simulator->hungUp());
    const std::vector<flocksim::FaultMark> marks = simulator->faultMarks();
    EXPECT_GE(marks.size(), 4096u);
    EXPECT_LE(marks.size(), 8192u);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.back().firstRecord, 20000u);
    EXPECT_EQ(marks.front().firstRecord, 20000u - marks.size() + 1);
}

TEST_F(FlockLine, HangingUpInSilenceOrByClosingTheLine)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.faults.hangUpAfter = 6;
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    EXPECT_EQ(records(read(1 << 16)).size(), 5u);  // the sixth is the last, not closed by a seventh
    write({0x4F, 0x23});                            // no answer any more
    EXPECT_EQ(read(1), Bytes{});

    setup.faults.hangUp = flocksim::HangUp::Close;
    port.closePort();
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    ASSERT_TRUE(simulator->waitForRecords(6, 2000));
    kit::StdoutCapture capture;
    read(1 << 16);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.readBytes(&byte, 1), -1);
    port.closePort();
}

// Hang-ups that end. Silence, as a pulled cable: what the host sends meanwhile
// is lost, and the flock streams on when the cable is back.
TEST_F(FlockLine, ASilenceThatEndsLeavesTheFlockStreaming)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.faults.hangUpAfter = 20;
    setup.faults.backAfterMs = 1000;
    startFlock(setup);
    command({0x50, 0x23, 0x01});
    command({0x40});
    ASSERT_TRUE(simulator->waitForRecords(20, 2000));
    ASSERT_TRUE(simulator->hungUp());
    simulator->clearLog();
    write({0x4F, 0x23});  // lost on the way
    EXPECT_EQ(records(read(1 << 16)).size(), 19u);  // the twentieth waits for the phasing byte of the next
    // Back by itself, streaming on.
    ASSERT_TRUE(simulator->waitForRecords(60, 4000));
    EXPECT_FALSE(simulator->hungUp());
    EXPECT_TRUE(simulator->unit(2).streaming);
    EXPECT_EQ(simulator->received(), Bytes{});
}

// Switched off and on: silent meanwhile, then as after power-up: no group
// mode, no stream, settings at their power-up values, until configured again.
TEST_F(FlockLine, APowerCycleForgetsTheConfiguration)
{
    startFlock(flocksim::Setup::flock(2, 1));
    command({0x50, 0x23, 0x01});
    command({0xF2, 0x4C, 0x0C, 0x01});
    command({0x40});
    ASSERT_TRUE(simulator->waitForRecords(5, 2000));
    simulator->hangUpNow(flocksim::HangUp::PowerOff, std::chrono::milliseconds(300));
    for (int i = 0; i < 100 && !simulator->hungUp(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(simulator->hungUp());
    read(1 << 16);
    for (int i = 0; i < 100 && simulator->hungUp(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(simulator->hungUp());
    EXPECT_EQ(read(1), Bytes{});
    const flocksim::UnitState unit = simulator->unit(2);
    EXPECT_FALSE(unit.groupMode);
    EXPECT_FALSE(unit.streaming);
    EXPECT_EQ(unit.hemisphere, flocksim::UnitState{}.hemisphere);
    command({0x50, 0x23, 0x01});
    command({0x40});
    EXPECT_GE(records(read(13 * 10)).size(), 5u);
}

// A closed line comes back on a new pseudo-terminal under the same link name;
// the flock streamed on meanwhile, as behind an unplugged serial adapter.
TEST_F(FlockLine, AClosedLineComesBackUnderItsLinkName)
{
    kit::TempFile marker("");
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.linkPath = marker.path() + ".line";
    startFlock(setup);
    EXPECT_EQ(simulator->linePath(), setup.linkPath);
    std::string newLine;
    std::mutex seen;
    simulator->onNewLine([&](const std::string& path) {
        std::lock_guard<std::mutex> lock(seen);
        newLine = path;
    });
    command({0x50, 0x23, 0x01});
    command({0x40});
    ASSERT_TRUE(simulator->waitForRecords(5, 2000));
    simulator->hangUpNow(flocksim::HangUp::Close, std::chrono::milliseconds(500));
    {
        kit::StdoutCapture capture;
        read(1 << 16);
        std::uint8_t byte = 0;
        EXPECT_EQ(port.readBytes(&byte, 1), -1);
    }
    port.closePort();
    struct stat info {};
    EXPECT_NE(::lstat(setup.linkPath.c_str(), &info), 0);  // gone with the line
    bool opened = false;
    for (int i = 0; i < 300 && !opened; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kit::StdoutCapture capture;
        opened = port.openPort(setup.linkPath.c_str());
    }
    ASSERT_TRUE(opened);
    {
        std::lock_guard<std::mutex> lock(seen);
        EXPECT_FALSE(newLine.empty());
        EXPECT_EQ(newLine, simulator->line().slavePath());
    }
    PortAttributes attributes = kit::simulatorLine(300);
    ASSERT_TRUE(port.setAttributes(&attributes));
    EXPECT_GE(records(read(13 * 10)).size(), 5u);
    port.closePort();
    simulator->stop();
    EXPECT_NE(::lstat(setup.linkPath.c_str(), &info), 0);
}

TEST(FlockSim, MakesWineComPortsThatLeadToTheLine)
{
    char directory[] = "/tmp/flocksim-prefix-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string devices = std::string(directory) + "/dosdevices";
    ASSERT_EQ(::mkdir(devices.c_str(), 0700), 0);
    const char* saved = std::getenv("WINEPREFIX");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("WINEPREFIX", directory, 1);
    std::string error;
    {
        flocksim::WineComLink first;
        flocksim::WineComLink second;
        flocksim::WineComLink taken;
        flocksim::WineComLink stale;
        ASSERT_TRUE(first.create(0, "/dev/null", error)) << error;
        ASSERT_TRUE(second.create(0, "/dev/zero", error)) << error;
        EXPECT_EQ(first.comName(), "COM20");
        EXPECT_EQ(second.comName(), "COM21");
        EXPECT_EQ(second.openName(), "\\\\.\\COM21");
        char target[64] = {};
        ASSERT_GT(::readlink((devices + "/com20").c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/dev/null");
        EXPECT_FALSE(taken.create(21, "/dev/null", error));
        EXPECT_EQ(error, devices + "/com21 exists already");
        ASSERT_EQ(::symlink("/nonexistent/pts/99", (devices + "/com7").c_str()), 0);
        ASSERT_TRUE(stale.create(7, "/dev/null", error)) << error;
        EXPECT_EQ(stale.comName(), "COM7");
        first.remove();
        EXPECT_NE(::access((devices + "/com20").c_str(), F_OK), 0);
    }
    EXPECT_NE(::access((devices + "/com21").c_str(), F_OK), 0);
    EXPECT_NE(::access((devices + "/com7").c_str(), F_OK), 0);
    if (saved != nullptr) {
        ::setenv("WINEPREFIX", previous.c_str(), 1);
    } else {
        ::unsetenv("WINEPREFIX");
    }
    ::rmdir(devices.c_str());
    ::rmdir(directory);
}

void expectSameSetup(const flocksim::Setup& built, const flocksim::Setup& given)
{
    ASSERT_EQ(built.units.size(), given.units.size());
    for (std::size_t i = 0; i < given.units.size(); ++i) {
        const flocksim::UnitSetup& a = built.units[i];
        const flocksim::UnitSetup& b = given.units[i];
        EXPECT_EQ(a.receiver, b.receiver) << "unit " << i + 1;
        EXPECT_EQ(a.mouse, b.mouse) << "unit " << i + 1;
        EXPECT_EQ(a.buttonModeAtStart, b.buttonModeAtStart) << "unit " << i + 1;
        EXPECT_EQ(a.ignoresButtonMode, b.ignoresButtonMode) << "unit " << i + 1;
        EXPECT_EQ(a.erc, b.erc) << "unit " << i + 1;
        EXPECT_EQ(a.ercTransmitters, b.ercTransmitters) << "unit " << i + 1;
        EXPECT_EQ(a.srt, b.srt) << "unit " << i + 1;
        EXPECT_EQ(a.running, b.running) << "unit " << i + 1;
        EXPECT_EQ(a.status, b.status) << "unit " << i + 1;
    }
    EXPECT_EQ(built.maxAddress, given.maxAddress);
    EXPECT_EQ(built.lineAddress, given.lineAddress);
    EXPECT_EQ(built.groupModeReply, given.groupModeReply);
    EXPECT_EQ(built.finishesGroup, given.finishesGroup);
    EXPECT_EQ(built.rate, given.rate);
    EXPECT_EQ(built.faults.noiseEvery, given.faults.noiseEvery);
    EXPECT_EQ(built.faults.noiseLength, given.faults.noiseLength);
    EXPECT_EQ(built.faults.dropEvery, given.faults.dropEvery);
    EXPECT_EQ(built.faults.hangUpAfter, given.faults.hangUpAfter);
    EXPECT_EQ(built.faults.hangUp, given.faults.hangUp);
    EXPECT_EQ(built.faults.seed, given.faults.seed);
    EXPECT_EQ(built.faults.cutEvery, given.faults.cutEvery);
    EXPECT_EQ(built.faults.burstEvery, given.faults.burstEvery);
    EXPECT_EQ(built.faults.burstLength, given.faults.burstLength);
    EXPECT_EQ(built.faults.statusBytes, given.faults.statusBytes);
    EXPECT_EQ(built.faults.backAfterMs, given.faults.backAfterMs);
    EXPECT_EQ(built.linkPath, given.linkPath);
    EXPECT_EQ(built.spreadCycle, given.spreadCycle);
    EXPECT_EQ(built.positionNoise, given.positionNoise);
    EXPECT_EQ(built.angleNoise, given.angleNoise);
}

TEST(FlockSim, ASetUpTravelsToTheProgramAsOptions)
{
    flocksim::Setup mixed = flocksim::Setup::flock(7, 4);
    mixed.units[0].srt = true;
    mixed.units[1].mouse = true;
    mixed.units[1].buttonModeAtStart = true;
    mixed.units[4].ignoresButtonMode = true;
    mixed.units[2].running = false;
    mixed.units[3].receiver = true;  // an ERC with a receiver
    mixed.units[3].ercTransmitters = 0xB;
    mixed.units[4].status = 0xA1;
    mixed.units[5].erc = true;  // a second ERC, without receiver
    mixed.units[5].receiver = false;
    mixed.units[6].receiver = false;
    mixed.maxAddress = 30;
    mixed.lineAddress = 2;
    mixed.groupModeReply = 0;
    mixed.finishesGroup = true;
    mixed.spreadCycle = true;
    mixed.rate = 1.0 / 3.0;
    mixed.positionNoise = 0.0003;
    mixed.angleNoise = 1.0 / 7000.0;
    mixed.faults = {7, 3, 11, 40, flocksim::HangUp::PowerOff, 99, 5, 13, 33, 0, 1500};
    mixed.linkPath = "/tmp/a flock's line";
    for (const flocksim::Setup& given : {flocksim::Setup::flock(3, 1), flocksim::Setup::flock(2, 0), mixed}) {
        const std::vector<std::string> options = flocksim::setupOptions(given);
        std::vector<const char*> arguments;
        for (const std::string& option : options) {
            arguments.push_back(option.c_str());
        }
        flocksim::CommandLine line;
        std::string error;
        ASSERT_TRUE(line.parse(static_cast<int>(arguments.size()), arguments.data(), error)) << error;
        flocksim::Setup built;
        ASSERT_TRUE(line.buildSetup(built, error)) << error;
        expectSameSetup(built, given);
    }
}

TEST(FlockSim, CommandLineNamesTheOptionThatIsWrong)
{
    const char* wrong[] = {"--units", "3", "--erc-transmitters", "2=16"};
    flocksim::CommandLine line;
    std::string error;
    EXPECT_FALSE(line.parse(4, wrong, error));
    EXPECT_EQ(error, "bad or incomplete option --erc-transmitters 2=16");
    const char* beyond[] = {"--units", "3", "--status", "4=0x80"};
    flocksim::CommandLine other;
    ASSERT_TRUE(other.parse(4, beyond, error)) << error;
    flocksim::Setup setup;
    EXPECT_FALSE(other.buildSetup(setup, error));
    EXPECT_EQ(error, "there is no unit at address 4");
}

// The demo's motion, as flocksim --motion demo makes it: every sensor (the
// eight and the helix, and further units spread along them) changes each of
// its six values, within the +z hemisphere and a sound elevation, and moves
// smoothly from one cycle to the next (a jump would show as a false motion
// in a view or a latency figure).
TEST(FlockSim, TheDemoMotionMovesEverySensorOnAllSixAxesSmoothly)
{
    const char* options[] = {"--units", "5", "--motion", "demo"};
    flocksim::CommandLine line;
    std::string error;
    ASSERT_TRUE(line.parse(4, options, error)) << error;
    flocksim::Setup setup;
    ASSERT_TRUE(line.buildSetup(setup, error)) << error;
    ASSERT_TRUE(setup.motion);
    const char* unknown[] = {"--motion", "spiral"};
    EXPECT_FALSE(flocksim::CommandLine().parse(2, unknown, error));
    for (std::uint32_t address = 2; address <= 5; ++address) {
        std::vector<std::int16_t> seen[6];
        flocksim::Sample before = setup.motion(address, 0);
        for (std::uint64_t cycle = 0; cycle < 3000; ++cycle) {
            const flocksim::Sample sample = setup.motion(address, cycle);
            for (std::size_t k = 0; k < 6; ++k) {
                seen[k].push_back(sample.words[k]);
                // Per cycle at most 0.1 feet and 4 degrees (azimuth may
                // pass from 180 to -180).
                long step = std::labs(long{sample.words[k]} - before.words[k]);
                if (k == 3) {
                    step = std::min(step, 65536 - step);
                }
                EXPECT_LE(step, k < 3 ? 273 : 728) << "address " << address << " word " << k << " cycle " << cycle;
            }
            EXPECT_GT(sample.words[2], 0) << "in front of the transmitter (+z)";
            EXPECT_LE(std::abs(sample.words[4]), 16384) << "elevation within 90 degrees";
            before = sample;
        }
        for (std::size_t k = 0; k < 6; ++k) {
            std::sort(seen[k].begin(), seen[k].end());
            const auto values = std::unique(seen[k].begin(), seen[k].end()) - seen[k].begin();
            EXPECT_GE(values, 50) << "address " << address << " word " << k;
        }
    }
}

pid_t spawnProgram(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

TEST(FlockSim, ProgramEndsWithItsOwnerAndRemovesItsControlDirectory)
{
    const pid_t owner = spawnProgram({"/bin/sleep", "0.3"});
    ASSERT_NE(owner, 0);
    char control[] = "/tmp/flocksim-control-XXXXXX";
    ASSERT_NE(::mkdtemp(control), nullptr);
    const pid_t program =
        spawnProgram({VANTREL_FLOCKSIM_PATH, "--owner-pid", std::to_string(owner), "--control", control});
    ASSERT_NE(program, 0);
    ASSERT_EQ(::waitpid(owner, nullptr, 0), owner);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(program, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        ::kill(program, SIGTERM);
        ::waitpid(program, nullptr, 0);
    }
    EXPECT_EQ(ended, program);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Nobody else would remove the control directory.
    EXPECT_NE(::access(control, F_OK), 0);
    ::rmdir(control);
}

}  // namespace
