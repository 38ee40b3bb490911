// What the POSIX serial port does on its own account: exclusive opening, the
// Win32 time-out rules on a terminal, reading ahead, a line that hangs up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "FlockSimulator.h"
#include "PseudoTerminal.h"
#include "common/CLogH.h"
#include "kit/DeviceHost.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "platform/Platform.h"
#include "serial/CRS232H.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string systemText(std::uint32_t code)
{
    char text[512];
    platform::systemErrorText(code, text, sizeof text);
    return text;
}

class PosixLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(simulator.start(error)) << error;
        ASSERT_TRUE(port.openPort(simulator.linePath().c_str()));
        applyTimeouts(0, 0, 1000);
    }

    void applyTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant)
    {
        PortAttributes attributes{};
        attributes.control.BaudRate = 38400;
        attributes.control.fBinary = 1;
        attributes.control.ByteSize = 8;
        attributes.timeouts.ReadIntervalTimeout = interval;
        attributes.timeouts.ReadTotalTimeoutMultiplier = multiplier;
        attributes.timeouts.ReadTotalTimeoutConstant = constant;
        ASSERT_TRUE(port.setAttributes(&attributes));
    }

    // Sends bytes from the far end and waits until the line holds them.
    void arrive(const Bytes& bytes)
    {
        simulator.send(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    flocksim::FlockSimulator simulator{flocksim::Setup::flock(2, 1)};
    CLogH log{kit::plainLogSettings("T")};
    CRS232H port{&log};
};

TEST_F(PosixLine, ASecondOpenOfAnOpenPortIsRefused)
{
    CRS232H second(&log);
    {
        kit::StdoutCapture capture;
        EXPECT_FALSE(second.openPort(simulator.linePath().c_str()));
        EXPECT_EQ(capture.text(),
                  "T: ERROR: CRS232H: Opening port " + simulator.linePath() + ": " + systemText(EBUSY) + "\n");
    }
    EXPECT_TRUE(port.closePort());
    EXPECT_TRUE(second.openPort(simulator.linePath().c_str()));
    EXPECT_TRUE(second.closePort());
}

TEST_F(PosixLine, OpeningAgainGivesTheEarlierHoldBack)
{
    kit::StdoutCapture capture;
    EXPECT_TRUE(port.openPort(simulator.linePath().c_str()));  // not refused by its own hold
    EXPECT_TRUE(port.isOpen());
    CRS232H other(&log);
    EXPECT_FALSE(other.openPort(simulator.linePath().c_str()));  // still one hold only
    EXPECT_TRUE(port.closePort());
    EXPECT_TRUE(other.openPort(simulator.linePath().c_str()));
    const std::string lines = capture.text();
    EXPECT_EQ(lines, "T: ERROR: CRS232H: Opening port " + simulator.linePath() + ": " + systemText(EBUSY) + "\n");
}

TEST_F(PosixLine, AReadEndsAsSoonAsTheBytesAreThere)
{
    std::uint8_t buffer[64] = {};
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        simulator.send({0x55, 0x66});
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 1), 1);
    long long elapsed = millisecondsSince(start);
    sender.join();
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 700);
    EXPECT_EQ(buffer[0], 0x55);
    EXPECT_EQ(port.readBytes(buffer, 1), 1);  // read ahead before
    EXPECT_EQ(buffer[0], 0x66);

    // What the line holds comes out in order, whatever the read sizes.
    Bytes sent(300);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(i * 7);
    }
    arrive(sent);
    Bytes got;
    EXPECT_EQ(port.readBytes(buffer, 10), 10);
    got.insert(got.end(), buffer, buffer + 10);
    while (got.size() < sent.size()) {
        ASSERT_EQ(port.readBytes(buffer, 1), 1);
        got.push_back(buffer[0]);
    }
    EXPECT_EQ(got, sent);

    // Fewer bytes than asked for: the read ends at the total time-out.
    arrive({1, 2, 3, 4});
    start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 10), 4);
    elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));
}

TEST_F(PosixLine, TheTimeOutRulesOfTheLine)
{
    constexpr std::uint32_t kMax = platform::kTimeoutMax;
    std::uint8_t buffer[16] = {};
    // Interval "max", no total: at once, with what is there.
    applyTimeouts(kMax, 0, 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 4), 0);
    EXPECT_LT(millisecondsSince(start), 100);
    arrive({9, 8});
    EXPECT_EQ(port.readBytes(buffer, 4), 2);

    // Interval and multiplier "max": up to the constant for the first byte.
    applyTimeouts(kMax, kMax, 300);
    start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 4), 0);
    long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 700);
    arrive({7, 6, 5});
    start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 4), 3);
    EXPECT_LT(millisecondsSince(start), 100);

    // Multiplier times count plus constant.
    applyTimeouts(0, 100, 100);
    start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 3), 0);
    elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 350);
    EXPECT_LT(elapsed, 800);

    // An interval without total time-out: ends a gap after the last byte.
    applyTimeouts(100, 0, 0);
    arrive({1, 2, 3});
    start = Clock::now();
    EXPECT_EQ(port.readBytes(buffer, 10), 3);
    elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 80);
    EXPECT_LT(elapsed, 600);
}

TEST_F(PosixLine, ALineThatHangsUpFailsTheRead)
{
    simulator.hangUpNow(flocksim::HangUp::Close);
    for (int i = 0; i < 100 && !simulator.hungUp(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(simulator.hungUp());
    std::uint8_t byte = 0;
    kit::StdoutCapture capture;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.readBytes(&byte, 1), -1);
    EXPECT_LT(millisecondsSince(start), 500);  // at once, not at the time-out
    EXPECT_EQ(port.writeBytes(&byte, 1), 0);
    const std::string path = simulator.linePath();
    EXPECT_EQ(capture.text(), "T: ERROR: CRS232H: Reading from " + path + ": " + systemText(EIO) + "\n" +
                                  "T: ERROR: CRS232H: Writing to " + path + ": " + systemText(EIO) + "\n");
    port.closePort();
}

TEST_F(PosixLine, AReadUnderWayWhenTheLineHangsUpHandsOverWhatCame)
{
    std::thread farEnd([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        simulator.send({0x81, 0x02, 0x03});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        simulator.hangUpNow(flocksim::HangUp::Close);
    });
    std::uint8_t buffer[14] = {};
    const Clock::time_point start = Clock::now();
    const std::int32_t got = port.readBytes(buffer, sizeof buffer);
    const long long elapsed = millisecondsSince(start);
    farEnd.join();
    EXPECT_EQ(got, 3);
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 800);  // at the hang-up, not at the time-out
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x81, 0x02, 0x03}));
    std::string output;
    {
        kit::StdoutCapture capture;
        EXPECT_EQ(port.readBytes(buffer, 1), -1);
        output = capture.text();
    }
    EXPECT_EQ(output, "T: ERROR: CRS232H: Reading from " + simulator.linePath() + ": " + systemText(EIO) + "\n");
}

// Control blocks other than 8N1 reach the terminal as far as a pseudo-terminal
// carries them: it keeps every setting but the byte size and the parity
// enable (always 8 bits without parity), which show on real ports only. A
// block that changes nothing that the terminal keeps may be refused there, so
// each row changes something of what the row before left.
TEST_F(PosixLine, SettingsOtherThan8N1ReachTheLine)
{
    using platform::SerialControlBlock;
    struct Settings {
        const char* name;
        void (*change)(SerialControlBlock&);
        tcflag_t controlFlags;  // of PARODD, CMSPAR, CSTOPB, CRTSCTS
        tcflag_t inputFlags;    // of INPCK, IXON, IXOFF
    };
    const Settings settings[] = {
        {"7O2, parity checked",
         [](SerialControlBlock& c) {
             c.ByteSize = 7, c.Parity = platform::kOddParity, c.fParity = 1, c.StopBits = platform::kTwoStopBits;
         },
         PARODD | CSTOPB, INPCK},
        {"6E1", [](SerialControlBlock& c) { c.ByteSize = 6, c.Parity = platform::kEvenParity; }, 0, 0},
        {"5M1.5",
         [](SerialControlBlock& c) {
             c.ByteSize = 5, c.Parity = platform::kMarkParity, c.StopBits = platform::kOne5StopBits;
         },
         PARODD | CMSPAR | CSTOPB, 0},
        {"8S1", [](SerialControlBlock& c) { c.Parity = platform::kSpaceParity; }, CMSPAR, 0},
        {"RTS/CTS handshake, XON/XOFF both ways, DTR and RTS raised",
         [](SerialControlBlock& c) {
             c.fOutxCtsFlow = 1, c.fRtsControl = platform::kRtsControlHandshake, c.fOutX = 1, c.fInX = 1;
             c.XonChar = 0x11, c.XoffChar = 0x13, c.fDtrControl = platform::kDtrControlEnable;
         },
         CRTSCTS, IXON | IXOFF},
        {"RTS raised", [](SerialControlBlock& c) { c.fRtsControl = platform::kRtsControlEnable; }, 0, 0},
    };
    const tcflag_t controlMask = PARODD | CMSPAR | CSTOPB | CRTSCTS;
    const tcflag_t inputMask = INPCK | IXON | IXOFF;
    for (const Settings& setting : settings) {
        SCOPED_TRACE(setting.name);
        PortAttributes attributes = port.working();
        attributes.control = platform::SerialControlBlock{};
        attributes.control.BaudRate = 9600;
        attributes.control.fBinary = 1;
        attributes.control.ByteSize = 8;
        setting.change(attributes.control);
        ASSERT_TRUE(port.setAttributes(&attributes));
        termios line{};
        ASSERT_TRUE(simulator.line().lineSettings(line));
        EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
        EXPECT_EQ(line.c_cflag & controlMask, setting.controlFlags);
        EXPECT_EQ(line.c_iflag & inputMask, setting.inputFlags);
        // What the line carries is what the port reports (1.5 stop bits
        // read back as 2: the terminal has one flag for both).
        PortAttributes back{};
        ASSERT_TRUE(port.getAttributes(&back));
        EXPECT_EQ(back.control.fParity, attributes.control.fParity);
        EXPECT_EQ(back.control.StopBits == platform::kOneStopBit, attributes.control.StopBits == platform::kOneStopBit);
        EXPECT_EQ(back.control.fOutxCtsFlow, attributes.control.fOutxCtsFlow);
        EXPECT_EQ(back.control.fRtsControl, attributes.control.fRtsControl);
        EXPECT_EQ(back.control.fDtrControl, attributes.control.fDtrControl);
        EXPECT_EQ(back.control.fOutX, attributes.control.fOutX);
        EXPECT_EQ(back.control.fInX, attributes.control.fInX);
        EXPECT_EQ(back.control.XonChar, attributes.control.XonChar);
        EXPECT_EQ(back.control.XoffChar, attributes.control.XoffChar);
    }

    // A line found at a rate that the port cannot set (1800 baud) gets it
    // back when the port closes.
    ASSERT_TRUE(port.closePort());
    termios found{};
    ASSERT_TRUE(simulator.line().lineSettings(found));
    cfsetispeed(&found, B1800);
    cfsetospeed(&found, B1800);
    ASSERT_TRUE(simulator.line().setLineSettings(found));
    ASSERT_TRUE(port.openPort(simulator.linePath().c_str()));
    applyTimeouts(0, 0, 1000);
    ASSERT_TRUE(port.closePort());
    termios after{};
    ASSERT_TRUE(simulator.line().lineSettings(after));
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B1800));
}

// A far end that takes nothing: the line's buffers fill up and a write waits.
TEST(PosixLineWrite, AWriteEndsAtItsTimeOutOrWhenTheLineHangsUp)
{
    flocksim::PseudoTerminal line;
    std::string error;
    ASSERT_TRUE(line.open(error)) << error;
    CLogH log{kit::plainLogSettings("T")};
    CRS232H port{&log};
    ASSERT_TRUE(port.openPort(line.slavePath().c_str()));
    PortAttributes attributes = port.working();
    attributes.control = platform::SerialControlBlock{};
    attributes.control.BaudRate = 38400;
    attributes.control.fBinary = 1;
    attributes.control.ByteSize = 8;
    attributes.timeouts = platform::SerialTimeouts{};
    attributes.timeouts.ReadTotalTimeoutConstant = 1000;
    attributes.timeouts.WriteTotalTimeoutConstant = 300;
    ASSERT_TRUE(port.setAttributes(&attributes));

    // Far more than a pseudo-terminal holds (some 64 KiB).
    Bytes block(1u << 20);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 13);
    }
    const auto size = static_cast<std::int32_t>(block.size());
    std::string output;
    Clock::time_point start = Clock::now();
    std::int32_t written = 0;
    {
        kit::StdoutCapture capture;
        written = port.writeBytes(block.data(), size);
        output = capture.text();
    }
    long long elapsed = millisecondsSince(start);
    EXPECT_EQ(output, "");
    // The time-out ends the write with what went out, and is no failure.
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 1500);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, size);
    // Exactly the bytes counted went out, in order.
    Bytes arrived;
    for (;;) {
        pollfd entry{line.master(), POLLIN, 0};
        if (::poll(&entry, 1, 200) <= 0) {
            break;
        }
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(line.master(), chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        arrived.insert(arrived.end(), chunk, chunk + n);
    }
    ASSERT_EQ(arrived.size(), static_cast<std::size_t>(written));
    EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), block.begin()));

    // Without a write time-out (the device's setting) the write waits for the
    // line, and a hang-up ends it with a failure.
    attributes.timeouts.WriteTotalTimeoutConstant = 0;
    ASSERT_TRUE(port.setAttributes(&attributes));
    std::thread farEnd([&line] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        line.closeMaster();
    });
    start = Clock::now();
    {
        kit::StdoutCapture capture;
        written = port.writeBytes(block.data(), size);
        output = capture.text();
    }
    elapsed = millisecondsSince(start);
    farEnd.join();
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 1500);
    EXPECT_LT(written, size);
    EXPECT_EQ(output, "T: ERROR: CRS232H: Writing to " + line.slavePath() + ": " + systemText(EIO) + "\n");
}

// A port name that leads to a file that is no terminal, a slip of the
// configuration: the device's init fails and says why.
TEST(PosixLineOpen, ADeviceOnAFileThatIsNoTerminalFailsItsInit)
{
    kit::DeviceHost host("Vantrel 1\nport /dev/null\n");
    std::vector<std::string> lines;
    {
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        lines = capture.lines();
    }
    const std::string notATerminal = systemText(ENOTTY);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"Dev: ERROR: CRS232H: Getting attribute(DCB) from /dev/null: " + notATerminal,
                                        "Dev: ERROR: CRS232H: Getting attribute(DCB) from /dev/null: " + notATerminal,
                                        "Dev: ERROR: CRS232H: Setting attribute(DCB) to /dev/null: " + notATerminal}));
}

TEST_F(PosixLine, AControlBlockTheLineCannotCarryIsRefused)
{
    PortAttributes attributes = port.working();
    attributes.control.BaudRate = 14400;
    kit::StdoutCapture capture;
    EXPECT_FALSE(port.setAttributes(&attributes));
    EXPECT_NE(port.working().control.BaudRate, 14400u);
    attributes.control.BaudRate = 9600;
    attributes.control.ByteSize = 9;
    EXPECT_FALSE(port.setAttributes(&attributes));
    const std::string report =
        "T: ERROR: CRS232H: Setting attribute(DCB) to " + simulator.linePath() + ": " + systemText(EINVAL) + "\n";
    EXPECT_EQ(capture.text(), report + report);
}

}  // namespace
