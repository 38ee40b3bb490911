// The serial port handle on both targets. The tests of the SerialLine group
// need the far end of a line: a flock simulator (see kit/FlockPartner.h).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/CLogH.h"
#include "kit/FlockPartner.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "platform/Platform.h"
#include "platform/SystemControlBlock.h"
#include "serial/CRS232H.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <termios.h>

#include "FlockSimulator.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

#if defined(_WIN32)
constexpr std::uint32_t kBadHandle = ERROR_INVALID_HANDLE;
constexpr std::uint32_t kBadArgument = ERROR_INVALID_PARAMETER;
#else
constexpr std::uint32_t kBadHandle = EBADF;
constexpr std::uint32_t kBadArgument = EINVAL;
#endif

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

CLogH testLog()
{
    return CLogH(kit::plainLogSettings("T"));
}

std::string systemText(std::uint32_t code)
{
    char text[512];
    platform::systemErrorText(code, text, sizeof text);
    return text;
}

// What the device gives the line: binary 8N1, no flow control, DTR and RTS
// held off, reads that end after 1000 ms, writes without time-out.
PortAttributes deviceAttributes()
{
    PortAttributes attributes{};
    attributes.control.BaudRate = 38400;
    attributes.control.fBinary = 1;
    attributes.control.ByteSize = 8;
    attributes.timeouts.ReadTotalTimeoutConstant = 1000;
    return attributes;
}

TEST(SerialPort, WorksWithACopyOfTheLoggerInCategory3)
{
    LogSettings settings = kit::plainLogSettings("HOST");
    settings.debugLevel = 3;  // category 3 only: the common layers and the port
    settings.debugThreshold = 4;
    settings.debugCategory = 1;
    const CLogH host(settings);
    kit::StdoutCapture capture;
    { CRS232H port(&host); }
    { CRS232H quiet(nullptr); }  // its own logger shows no DEBUG lines
    EXPECT_EQ(capture.lines(), (Lines{"HOST: DEBUG: CRS232H: \"constructor\" called.",
                                      "HOST: DEBUG: CRS232H: \"destructor\" called."}));
    EXPECT_EQ(host.debugCategory, 1u);
}

TEST(SerialPort, TakesOnlyTheListedBaudRates)
{
    const CLogH log = testLog();
    CRS232H port(&log);
    PortAttributes attributes = deviceAttributes();
    ASSERT_TRUE(port.setWorkingAttributes(&attributes));
    kit::StdoutCapture capture;
    EXPECT_FALSE(port.setBaudRate(14400));
    EXPECT_EQ(port.working().control.BaudRate, 38400u);
    EXPECT_FALSE(port.setBaudRate(-9600));
    EXPECT_EQ(port.working().control.BaudRate, 38400u);
    for (const std::int32_t rate : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        EXPECT_TRUE(port.setBaudRate(rate));
        EXPECT_EQ(port.working().control.BaudRate, static_cast<std::uint32_t>(rate));
    }
    EXPECT_EQ(capture.lines(), (Lines{"T: ERROR: CRS232H: Could not set the baud rate 14400",
                                      "T: ERROR: CRS232H: Could not set the baud rate -9600"}));
    EXPECT_FALSE(port.setWorkingAttributes(nullptr));
}

TEST(SerialPort, PortNamesOfUpTo255Characters)
{
    CLogH log = testLog();
    log.debugLevel = 3;
#if defined(_WIN32)
    const std::string base = "\\\\.\\NOSUCHPORT";
#else
    const std::string base = "/nonexistent/";
#endif
    const std::string longest = base + std::string(255 - base.size(), 'x');
    const std::string tooLong = longest + "x";
    kit::StdoutCapture capture;
    {
        CRS232H port(&log);
        EXPECT_FALSE(port.openPort(tooLong.c_str()));
        EXPECT_STREQ(port.name(), "");
        EXPECT_FALSE(port.openPort(longest.c_str()));
        EXPECT_STREQ(port.name(), longest.c_str());
        EXPECT_FALSE(port.isOpen());
    }
    const Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 7u) << capture.text();
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3), (Lines{"T: DEBUG: CRS232H: \"constructor\" called.",
                                                              "T: DEBUG: CRS232H: \"openPort\" called.",
                                                              "T: ERROR: CRS232H: Port name is too long. 255256"}));
    EXPECT_EQ(lines[3], "T: DEBUG: CRS232H: \"openPort\" called.");
    EXPECT_EQ(lines[4], "T: DEBUG: CRS232H: Opening " + longest + ".");
    const std::string report = "T: ERROR: CRS232H: Opening port " + longest + ": ";
    ASSERT_EQ(lines[5].compare(0, report.size(), report), 0) << lines[5];
#if defined(_WIN32)
    EXPECT_GT(lines[5].size(), report.size());
#else
    EXPECT_EQ(lines[5], report + systemText(ENOENT));
#endif
    // A failed open leaves nothing to close: the destructor only says so.
    EXPECT_EQ(lines[6], "T: DEBUG: CRS232H: \"destructor\" called.");
}

TEST(SerialPort, ClosingAPortThatIsNotOpenDoesNothing)
{
    const CLogH log = testLog();
    CRS232H failed(&log);
    {
        kit::StdoutCapture capture;
#if defined(_WIN32)
        EXPECT_FALSE(failed.openPort("\\\\.\\NOSUCHPORT"));
#else
        EXPECT_FALSE(failed.openPort("/nonexistent/NOSUCHPORT"));
#endif
        EXPECT_EQ(capture.lines().size(), 1u);
    }
    kit::StdoutCapture capture;
    {
        CRS232H never(&log);
        EXPECT_FALSE(never.closePort());
    }
    EXPECT_FALSE(failed.closePort());
    EXPECT_FALSE(failed.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST(SerialPort, AClosedPortReportsTheSystemsText)
{
    const CLogH log = testLog();
    CRS232H port(&log);
    PortAttributes attributes{};
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    kit::StdoutCapture capture;
    EXPECT_EQ(port.readBytes(buffer, 1), -1);
    EXPECT_EQ(port.writeBytes(buffer, 2), 0);
    EXPECT_FALSE(port.getAttributes(&attributes));
    EXPECT_FALSE(port.setAttributes(nullptr));
    EXPECT_FALSE(port.getAttributes(nullptr));  // no message
    EXPECT_EQ(port.readBytes(buffer, -1), -1);
    EXPECT_TRUE(port.flushPort());
    const std::string badHandle = systemText(kBadHandle);
    EXPECT_EQ(capture.lines(), (Lines{"T: ERROR: CRS232H: Reading from : " + badHandle,
                                      "T: ERROR: CRS232H: Writing to : " + badHandle,
                                      "T: ERROR: CRS232H: Getting attribute(DCB) from : " + badHandle,
                                      "T: ERROR: CRS232H: Setting attribute(DCB) to : " + badHandle,
                                      "T: ERROR: CRS232H: Reading from : " + systemText(kBadArgument)}));
}

TEST(SerialPort, ADisabledLoggerLeavesNoFragmentsOfLines)
{
    CLogH log = testLog();
    log.enabled = 0;
    log.debugLevel = 5;
    kit::StdoutCapture capture;
    {
        CRS232H port(&log);
        std::uint8_t byte = 0;
        EXPECT_FALSE(port.setBaudRate(14400));
        EXPECT_FALSE(port.openPort(std::string(300, 'x').c_str()));
#if defined(_WIN32)
        EXPECT_FALSE(port.openPort("\\\\.\\NOSUCHPORT"));
#else
        EXPECT_FALSE(port.openPort("/nonexistent/x"));
#endif
        EXPECT_EQ(port.readBytes(&byte, 1), -1);
    }
    EXPECT_EQ(capture.text(), "");
}

TEST(SerialPort, ItsOwnLoggerIsNamedAfterIt)
{
    CRS232H port(nullptr);
    std::uint8_t byte = 0;
    kit::StdoutCapture capture;
    EXPECT_EQ(port.readBytes(&byte, 1), -1);
    const std::string text = capture.text();
    const std::string expected = "CRS232H[" + std::to_string(platform::currentThreadId()) +
                                 "]: ERROR: CRS232H: Reading from : " + systemText(kBadHandle) + "\n";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected) << text;
}

// What SetCommState's documentation demands of the block it is given.
void expectTheSystemTakes(const platform::SerialControlBlock& block)
{
#if defined(_WIN32)
    EXPECT_EQ(block.DCBlength, sizeof(DCB));
#else
    EXPECT_EQ(block.DCBlength, 28u);
#endif
    EXPECT_EQ(block.fBinary, 1u);
    EXPECT_NE(block.XonChar, block.XoffChar);
    EXPECT_NE(block.BaudRate, 0u);
    EXPECT_GE(block.ByteSize, 5u);
    EXPECT_LE(block.ByteSize, 8u);
    EXPECT_LE(block.Parity, platform::kSpaceParity);
    EXPECT_LE(block.StopBits, platform::kTwoStopBits);
    EXPECT_FALSE(block.ByteSize == 5 && block.StopBits == platform::kTwoStopBits);
    EXPECT_FALSE(block.ByteSize > 5 && block.StopBits == platform::kOne5StopBits);
    EXPECT_LE(block.fDtrControl, platform::kDtrControlHandshake);
    EXPECT_EQ(block.wReserved, 0u);
    // The XON/XOFF limits count only with input flow control; with it the
    // XOFF limit must leave room for what the sender still sends.
    if (block.fInX != 0 || block.fRtsControl == platform::kRtsControlHandshake ||
        block.fDtrControl == platform::kDtrControlHandshake) {
        EXPECT_NE(block.XoffLim, 0u);
    }
}

TEST(SystemControlBlock, TheDevicesSettingsBecomeABlockTheSystemTakes)
{
    for (const std::uint32_t rate : {1200u, 9600u, 38400u, 115200u}) {
        platform::SerialControlBlock wanted = deviceAttributes().control;
        wanted.BaudRate = rate;
        platform::SerialControlBlock handed{};
        ASSERT_TRUE(platform::systemControlBlock(wanted, handed));
        expectTheSystemTakes(handed);
        // What the device asked for is what the line gets: 8N1, no flow
        // control, DTR and RTS off; the XON/XOFF pair is inert with it.
        EXPECT_EQ(handed.BaudRate, rate);
        EXPECT_EQ(handed.ByteSize, 8u);
        EXPECT_EQ(handed.Parity, platform::kNoParity);
        EXPECT_EQ(handed.StopBits, platform::kOneStopBit);
        EXPECT_EQ(handed.fParity + handed.fOutxCtsFlow + handed.fOutxDsrFlow + handed.fDsrSensitivity +
                      handed.fOutX + handed.fInX + handed.fErrorChar + handed.fNull + handed.fAbortOnError,
                  0);
        EXPECT_EQ(handed.fDtrControl, platform::kDtrControlDisable);
        EXPECT_EQ(handed.fRtsControl, platform::kRtsControlDisable);
        EXPECT_EQ(handed.XonChar, platform::kXonCharacter);
        EXPECT_EQ(handed.XoffChar, platform::kXoffCharacter);
    }
    // A block as the system reports it (the one written back at close) goes
    // back byte for byte.
    platform::SerialControlBlock found = deviceAttributes().control;
    found.DCBlength = sizeof found;
    found.fDtrControl = platform::kDtrControlEnable;
    found.fRtsControl = platform::kRtsControlHandshake;
    found.fTXContinueOnXoff = 1;
    found.XonLim = 2048;
    found.XoffLim = 512;
    found.XonChar = 0x11;
    found.XoffChar = 0x13;
    found.EofChar = 0x1A;
    platform::SerialControlBlock handed{};
    ASSERT_TRUE(platform::systemControlBlock(found, handed));
    EXPECT_EQ(std::memcmp(&handed, &found, sizeof found), 0);
    expectTheSystemTakes(handed);
}

TEST(SystemControlBlock, SettingsNoLineCanCarryAreRefused)
{
    const auto refused = [](void (*change)(platform::SerialControlBlock&)) {
        platform::SerialControlBlock wanted = deviceAttributes().control;
        change(wanted);
        platform::SerialControlBlock handed{};
        return !platform::systemControlBlock(wanted, handed);
    };
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.ByteSize = 4; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.ByteSize = 9; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.Parity = 5; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.StopBits = 3; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.ByteSize = 5, b.StopBits = platform::kTwoStopBits; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.StopBits = platform::kOne5StopBits; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.BaudRate = 0; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.fDtrControl = 3; }));
    EXPECT_FALSE(refused([](platform::SerialControlBlock& b) { b.ByteSize = 5, b.StopBits = platform::kOne5StopBits; }));
    EXPECT_FALSE(refused([](platform::SerialControlBlock& b) { b.ByteSize = 7, b.Parity = platform::kSpaceParity; }));
    // One character for XON and XOFF: the system refuses it while software
    // flow control uses them (replaced only while it is off, above).
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.fOutX = 1; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.fInX = 1; }));
    EXPECT_TRUE(refused([](platform::SerialControlBlock& b) { b.fOutX = 1, b.XonChar = b.XoffChar = 0x11; }));
    EXPECT_FALSE(refused([](platform::SerialControlBlock& b) { b.fInX = 1, b.XonChar = 0x11, b.XoffChar = 0x13; }));
}

// Tests with a flock simulator at the far end of the line.
class SerialLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(partner.started()) << partner.problem();
    }

    // Opens the partner's line with the device's settings at rate.
    void openAsTheDevice(CRS232H& port, std::int32_t rate)
    {
        ASSERT_TRUE(port.openPort(partner.portName().c_str()));
        PortAttributes attributes = deviceAttributes();
        ASSERT_TRUE(port.setWorkingAttributes(&attributes));
        ASSERT_TRUE(port.setBaudRate(rate));
        ASSERT_TRUE(port.setAttributes(nullptr));
    }

#if !defined(_WIN32)
    // The simulator in this process, for a look at the line from the far
    // end (natively only).
    flocksim::FlockSimulator* local() { return partner.simulator(); }
#endif

    // Two units: an ERC at address 1 and a receiver at 2.
    kit::FlockPartner partner{flocksim::Setup::flock(2, 1)};
    CLogH log = testLog();
};

TEST_F(SerialLine, TheDevicesSettingsReachTheLine)
{
    CRS232H port(&log);
    kit::StdoutCapture capture;
    openAsTheDevice(port, 9600);
    PortAttributes back{};
    ASSERT_TRUE(port.getAttributes(&back));
    EXPECT_EQ(back.control.BaudRate, 9600u);
    EXPECT_EQ(back.control.ByteSize, 8u);
    EXPECT_EQ(back.control.Parity, 0u);
    EXPECT_EQ(back.control.StopBits, 0u);
    EXPECT_EQ(back.control.fOutxCtsFlow, 0u);
    EXPECT_EQ(back.control.fOutX, 0u);
    EXPECT_EQ(back.control.fInX, 0u);
    EXPECT_EQ(back.timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(back.timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(back.timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(back.timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(back.timeouts.WriteTotalTimeoutConstant, 0u);
#if !defined(_WIN32)
    EXPECT_EQ(back.control.fDtrControl, 0u);
    EXPECT_EQ(back.control.fRtsControl, 0u);
    // The terminal itself: raw 8-bit bytes at 9600, 8N1, no flow control.
    if (local() != nullptr) {
        termios line{};
        ASSERT_TRUE(local()->line().lineSettings(line));
        EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
        EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
        EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
        EXPECT_EQ(line.c_oflag & OPOST, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    }
#endif
    EXPECT_TRUE(port.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(SerialLine, ClosingPutsBackTheSettingsFoundAtOpen)
{
#if !defined(_WIN32)
    // With the simulator at hand the line starts with settings that differ
    // from the device's (a pseudo-terminal always carries 8 bits without
    // parity), and they must come back byte for byte.
    termios before{};
    if (local() != nullptr) {
        flocksim::PseudoTerminal& line = local()->line();
        ASSERT_TRUE(line.lineSettings(before));
        cfsetispeed(&before, B19200);
        cfsetospeed(&before, B19200);
        before.c_cflag |= CSTOPB | CRTSCTS;
        before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        before.c_iflag |= IXON | ICRNL | INPCK;
        before.c_oflag |= OPOST | ONLCR;
        before.c_lflag |= ICANON | ECHO | ISIG;
        before.c_cc[VMIN] = 5;
        before.c_cc[VTIME] = 3;
        ASSERT_TRUE(line.setLineSettings(before));
        ASSERT_TRUE(line.lineSettings(before));
    }
#endif
    CRS232H port(&log);
    kit::StdoutCapture capture;
    ASSERT_TRUE(port.openPort(partner.portName().c_str()));
    const PortAttributes found = port.saved();
    EXPECT_EQ(std::memcmp(&found, &port.working(), sizeof found), 0);
    ASSERT_NE(found.control.BaudRate, 9600u);
    PortAttributes attributes = deviceAttributes();
    attributes.control.BaudRate = 9600;
    ASSERT_TRUE(port.setAttributes(&attributes));
    EXPECT_EQ(std::memcmp(&port.working(), &attributes, sizeof attributes), 0);
#if !defined(_WIN32)
    if (local() != nullptr) {
        EXPECT_EQ(found.control.BaudRate, 19200u);
        EXPECT_EQ(found.control.fParity, 1u);
        EXPECT_EQ(found.control.StopBits, platform::kTwoStopBits);
        EXPECT_EQ(found.control.fOutxCtsFlow, 1u);
        EXPECT_EQ(found.control.fOutX, 1u);
        termios during{};
        ASSERT_TRUE(local()->line().lineSettings(during));
        EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));
    }
#endif
    EXPECT_TRUE(port.closePort());
    EXPECT_FALSE(port.isOpen());
#if !defined(_WIN32)
    if (local() != nullptr) {
        termios after{};
        ASSERT_TRUE(local()->line().lineSettings(after));
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
        EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
        EXPECT_EQ(std::memcmp(&after, &before, sizeof after), 0);
    }
#endif
    // Opened again, the port finds what it found the first time.
    ASSERT_TRUE(port.openPort(partner.portName().c_str()));
    EXPECT_EQ(std::memcmp(&port.saved().control, &found.control, sizeof found.control), 0);
    EXPECT_TRUE(port.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(SerialLine, AOneByteReadWithoutDataEndsAfterTheReadTimeOut)
{
    CRS232H port(&log);
    kit::StdoutCapture capture;
    openAsTheDevice(port, 38400);
    std::uint8_t byte = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(&byte, 1), 0);
    const long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LE(elapsed, 2000);
    EXPECT_TRUE(port.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(SerialLine, ABurstArrivesWholeAndInOrderAndTheQuietLineStillTimesOut)
{
    CRS232H port(&log);
    kit::StdoutCapture capture;
    openAsTheDevice(port, 38400);
    std::vector<std::uint8_t> burst(1200);
    for (std::size_t i = 0; i < burst.size(); ++i) {
        burst[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    partner.send(burst);
    // Reads of one byte, as the device makes them, with reads of more than
    // the port reads ahead and of a few bytes between them.
    std::vector<std::uint8_t> got;
    std::uint8_t chunk[400];
    for (const std::int32_t count : {300, 1, 5, 257, 1, 2}) {
        const std::int32_t n = port.readBytes(chunk, count);
        ASSERT_EQ(n, count);
        got.insert(got.end(), chunk, chunk + n);
    }
    while (got.size() < burst.size()) {
        std::uint8_t byte = 0;
        ASSERT_EQ(port.readBytes(&byte, 1), 1) << "after " << got.size() << " bytes";
        got.push_back(byte);
    }
    EXPECT_EQ(got, burst);
    std::uint8_t byte = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(&byte, 1), 0);
    const long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LE(elapsed, 2000);
    EXPECT_TRUE(port.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(SerialLine, CommandsGoOutAndRepliesComeBack)
{
    CRS232H port(&log);
    kit::StdoutCapture capture;
    openAsTheDevice(port, 38400);
    const std::uint8_t groupModeOn[] = {0x50, 0x23, 0x01};
    const std::uint8_t groupModeQuery[] = {0x4F, 0x23};
    const std::uint8_t statusQuery[] = {0x4F, 0x24};
    EXPECT_EQ(port.writeBytes(groupModeOn, 3), 3);
    EXPECT_EQ(port.writeBytes(groupModeQuery, 2), 2);
    std::uint8_t reply[16] = {};
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(reply, 1), 1);
    EXPECT_LT(millisecondsSince(start), 900);  // on arrival, not at the time-out
    EXPECT_EQ(reply[0], 1);
    // The status of the 14 addresses: the ERC at 1, the receiver at 2.
    EXPECT_EQ(port.writeBytes(statusQuery, 2), 2);
    EXPECT_EQ(port.readBytes(reply, 14), 14);
    const std::vector<std::uint8_t> status(reply, reply + 14);
    std::vector<std::uint8_t> expected(14, 0);
    expected[0] = 0xD1;
    expected[1] = 0xE0;
    EXPECT_EQ(status, expected);
#if !defined(_WIN32)
    if (local() != nullptr) {
        EXPECT_EQ(local()->commands(), (std::vector<flocksim::Command>{
                                           {0, {0x50, 0x23, 0x01}}, {0, {0x4F, 0x23}}, {0, {0x4F, 0x24}}}));
    }
#endif
    EXPECT_TRUE(port.closePort());
    EXPECT_EQ(capture.text(), "");
}

TEST_F(SerialLine, DiscardingDropsWhatTheLineAndTheReadAheadHold)
{
    CRS232H port(&log);
    kit::StdoutCapture capture;
    openAsTheDevice(port, 38400);
    partner.send({0x11, 0x12, 0x13, 0x14});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::uint8_t byte = 0;
    ASSERT_EQ(port.readBytes(&byte, 1), 1);  // the rest may now wait in the port's read-ahead
    EXPECT_EQ(byte, 0x11);
    partner.send({0x15, 0x16});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(port.discardInput());
    // Nothing of it is read any more, and what comes next is.
    partner.send({0x42});
    ASSERT_EQ(port.readBytes(&byte, 1), 1);
    EXPECT_EQ(byte, 0x42);
    EXPECT_TRUE(port.closePort());
    EXPECT_FALSE(port.discardInput());
    const std::string text = capture.text();
    EXPECT_NE(text.find("ERROR: CRS232H: Discarding input from " + partner.portName() + ": "), std::string::npos)
        << text;
}

#if defined(_WIN32)
TEST(PortAttributes, AreTheSystemsControlAndTimeOutBlocks)
{
    // Every bit field lands where the system's DCB has it.
    PortAttributes attributes{};
    attributes.control.fParity = 1;
    attributes.control.fOutxDsrFlow = 1;
    attributes.control.fDtrControl = 2;
    attributes.control.fTXContinueOnXoff = 1;
    attributes.control.fInX = 1;
    attributes.control.fNull = 1;
    attributes.control.fRtsControl = 3;
    attributes.control.XoffLim = 0x1234;
    attributes.control.EofChar = 0x1A;
    attributes.timeouts.ReadTotalTimeoutConstant = 1000;
    attributes.timeouts.WriteTotalTimeoutMultiplier = 7;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    std::memcpy(&dcb, &attributes.control, sizeof dcb);
    std::memcpy(&timeouts, &attributes.timeouts, sizeof timeouts);
    EXPECT_EQ(dcb.fBinary, 0u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, 2u);
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 1u);
    EXPECT_EQ(dcb.fRtsControl, 3u);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.XoffLim, 0x1234);
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 7u);
    attributes.control = {};
    attributes.control.fAbortOnError = 1;
    attributes.control.fBinary = 1;
    std::memcpy(&dcb, &attributes.control, sizeof dcb);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
}
#endif

}  // namespace
