// The simulator program beside the test program, driven through its control
// directory; the port it serves is opened with the module's serial port.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SetupOptions.h"
#include "common/CLogH.h"
#include "kit/FlockProcess.h"
#include "kit/HostStorage.h"
#include "kit/PortReading.h"
#include "kit/StdoutCapture.h"
#include "kit/TempFile.h"
#include "serial/CRS232H.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> programOptions(const flocksim::Setup& setup)
{
    std::vector<std::string> options = flocksim::setupOptions(setup);
#if defined(_WIN32)
    options.insert(options.end(), {"--wine-com", "auto"});
#endif
    return options;
}

// The program's log once it holds count bytes (or after two seconds).
Bytes receivedOnce(const kit::FlockProcess& process, std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    Bytes bytes = process.received();
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        bytes = process.received();
    }
    return bytes;
}

TEST(FlockProcess, ServesTheFlockOfItsOptionsAndReportsThroughItsDirectory)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.groupModeReply = 7;  // only this flock answers so
    kit::FlockProcess process(VANTREL_FLOCKSIM_PATH, programOptions(setup));
    ASSERT_TRUE(process.started()) << process.problem();
    CLogH log(kit::plainLogSettings("T"));
    CRS232H port(&log);
    ASSERT_TRUE(port.openPort(process.openName().c_str())) << process.openName();
    PortAttributes attributes = kit::simulatorLine(500);
    ASSERT_TRUE(port.setAttributes(&attributes));

    const Bytes query{0x4F, 0x23};
    ASSERT_EQ(port.writeBytes(query.data(), 2), 2);
    EXPECT_EQ(kit::readUntilQuiet(port, 1), Bytes{7});
    EXPECT_EQ(receivedOnce(process, 2), query);
    process.send({0x80, 0x01, 0x7F});
    EXPECT_EQ(kit::readUntilQuiet(port, 3), (Bytes{0x80, 0x01, 0x7F}));
    process.sendEvery({0x11, 0x22}, 20);
    EXPECT_EQ(kit::readUntilQuiet(port, 6), (Bytes{0x11, 0x22, 0x11, 0x22, 0x11, 0x22}));
    process.sendEvery({}, 0);
    kit::readUntilQuiet(port, 100);  // what was on its way; then the line stays quiet
    EXPECT_EQ(kit::readUntilQuiet(port, 1), Bytes{});
    process.clearLog();
    EXPECT_EQ(process.received(), Bytes{});
    const Bytes sleep{0x47};
    ASSERT_EQ(port.writeBytes(sleep.data(), 1), 1);
    EXPECT_EQ(receivedOnce(process, 1), sleep);
    port.closePort();

    const std::string name = process.openName();
    process.stop();
    EXPECT_EQ(process.received(), Bytes{});
#if defined(_WIN32)
    // The program took its COM port with it.
    kit::StdoutCapture capture;
    EXPECT_FALSE(port.openPort(name.c_str()));
#endif
}

// A line that closes, as an unplugged serial adapter, and comes back: reads
// on the old line end, the name is gone for a while, then opens again and
// carries the flock's bytes (under Wine the COM port follows the line to its
// new pseudo-terminal; natively the link of --link does).
TEST(FlockProcess, AClosedLineComesBackUnderItsName)
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
#if !defined(_WIN32)
    const kit::TempFile marker("");
    setup.linkPath = marker.path() + ".line";
#endif
    kit::FlockProcess process(VANTREL_FLOCKSIM_PATH, programOptions(setup));
    ASSERT_TRUE(process.started()) << process.problem();
    CLogH log(kit::plainLogSettings("T"));
    CRS232H port(&log);
    PortAttributes attributes = kit::simulatorLine(200);
    ASSERT_TRUE(port.openPort(process.openName().c_str())) << process.openName();
    ASSERT_TRUE(port.setAttributes(&attributes));
    process.sendEvery({0x11}, 20);
    EXPECT_EQ(kit::readUntilQuiet(port, 3), (Bytes{0x11, 0x11, 0x11}));

    process.hangUp("close", 1500);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::int32_t read = 1;
    {
        kit::StdoutCapture capture;
        std::uint8_t byte = 0;
        while (read > 0 && std::chrono::steady_clock::now() < deadline) {
            read = port.readBytes(&byte, 1);
        }
        port.closePort();
        EXPECT_FALSE(port.openPort(process.openName().c_str()));
    }
    EXPECT_LE(read, 0);
    bool opened = false;
    for (int i = 0; i < 100 && !opened; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kit::StdoutCapture capture;
        opened = port.openPort(process.openName().c_str());
    }
    ASSERT_TRUE(opened);
    ASSERT_TRUE(port.setAttributes(&attributes));
    EXPECT_EQ(kit::readUntilQuiet(port, 3), (Bytes{0x11, 0x11, 0x11}));
    port.closePort();
}

TEST(FlockProcess, OwnerIsTheProcessThatOpensItsFiles)
{
    // The program ends with the process of this id (under Wine: the server).
    const long pid = kit::FlockProcess::ownerPid();
    EXPECT_GT(pid, 0);
#if !defined(_WIN32)
    EXPECT_EQ(pid, static_cast<long>(::getpid()));
#endif
}

TEST(FlockProcess, ProgramThatCannotStartSaysWhy)
{
    kit::FlockProcess process(VANTREL_FLOCKSIM_PATH, {"--units", "3", "--mice", "4"});
    EXPECT_FALSE(process.started());
    EXPECT_EQ(process.problem(), "the simulator program did not start: flocksim: there is no unit at address 4\n");
    EXPECT_EQ(process.received(), Bytes{});
}

}  // namespace
