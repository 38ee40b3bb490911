// Device options, initialisation and the status report.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kit/DeviceHost.h"
#include "kit/FlockPartner.h"
#include "kit/StdoutCapture.h"

namespace {

using Lines = std::vector<std::string>;

// Init output up to and including the report's closing line; what follows
// comes from the serial port, which these tests leave unopened.
Lines initOutput(kit::DeviceHost& host, std::int32_t expectedResult)
{
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), expectedResult);
    Lines lines = capture.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "Dev: INFO: -----------------------") {
            lines.resize(i + 1);
            break;
        }
    }
    return lines;
}

TEST(DeviceInit, EveryBadLineOfTheBlockIsReported)
{
    kit::DeviceHost host("Vantrel 2\n"
                         "hemisphere w\n"
                         "sync maybe\n"
                         "measurementrate 19\n"
                         "erc 4\n"
                         "port\n"
                         "baud 1 2\n"
                         "mouse 2 200 3\n"
                         "reportrate 08\n"
                         "scaling 48\n"
                         "filter perhaps\n"
                         "AddressingMode huge\n"
                         "srt 3\n"
                         "measurementrate 144\n");
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Dev: ERROR: CVantrel: Invalid string found for Hemisphere at line 2.",
                                   "Dev: ERROR: CVantrel: Found Invalid string for Sync at line 3.",
                                   "Dev: ERROR: CVantrel: Invalid ID found for MeasurementRate at line 4.",
                                   "Dev: ERROR: CVantrel: Invalid ID found for ERC at line 5.",
                                   "Dev: ERROR: CVantrel: Incomplete option line found for SerialPort at line 6.",
                                   "Dev: ERROR: CVantrel: Too many args found for Baud at line 7.",
                                   "Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 8.",
                                   "Dev: ERROR: CVantrel: Invalid string found for ReportRate at line 9.",
                                   "Dev: ERROR: CVantrel: Invalid string found for Scaling at line 10.",
                                   "Dev: ERROR: CVantrel: Invalid string found for Filter at line 11.",
                                   "Dev: ERROR: CVantrel: Invalid string found for AddressingMode at line 12.",
                                   "Dev: ERROR: CVantrel: Invalid ID found for SRT at line 13.",
                               }));
    // Good lines and the mouse line are consumed; bad ones are not.
    EXPECT_EQ(host.config().line(12).consumed, 1);
    EXPECT_EQ(host.config().line(6).consumed, 1);
    EXPECT_EQ(host.config().line(0).consumed, 0);
    // Nothing was reserved in the storage.
    EXPECT_EQ(host.trackers().count(), 0u);
}

TEST(DeviceInit, DeviceLineArgumentMustBeOneToThirtyTwo)
{
    for (const char* bad : {"0", "33", "-1", "units"}) {
        kit::DeviceHost host(std::string("Vantrel ") + bad + "\nhemisphere w\n");
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        // Nothing after the device line is read.
        EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: Invalid arg found for Vantrel at line 1."})) << bad;
    }
}

TEST(DeviceInit, MissingStoragesAndEmptyInfo)
{
    {
        kit::DeviceHost host("Vantrel\n");
        kit::StdoutCapture capture;
        EXPECT_EQ(host.device().init(nullptr), -1);
        EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: Init info is empty."}));
    }
    {
        kit::DeviceHost host("Vantrel\n");
        host.initInfo().trackerStorage = nullptr;
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: tracker data storage pointer is empty."}));
    }
    {
        kit::DeviceHost host("Vantrel\nmouse 2\n");
        host.initInfo().controllerStorage = nullptr;
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: controller data storage pointer is empty."}));
        // The tracker range was reserved before and stays reserved.
        EXPECT_EQ(host.trackers().count(), 2u);
    }
}

TEST(DeviceInit, MissingRunFlag)
{
    kit::DeviceHost host("Vantrel\n");
    host.initInfo().runFlag = nullptr;
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: run flag pointer is empty."}));
}

TEST(DeviceInit, LineNumbersAreDecimalWhateverTheHostsStreamFormat)
{
    std::string text = "Vantrel 2\n";
    for (int i = 0; i < 14; ++i) {
        text += "# comment\n";
    }
    kit::DeviceHost host(text + "hemisphere w\nfoo\n");
    std::cout << std::hex;
    std::string output;
    {
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        output = capture.text();
    }
    const bool stillHex = (std::cout.flags() & std::ios_base::basefield) == std::ios_base::hex;
    std::cout << std::dec;
    EXPECT_TRUE(stillHex);
    EXPECT_EQ(output, "Dev: ERROR: CVantrel: Invalid string found for Hemisphere at line 16.\n");
}

TEST(DeviceInit, ControllerOptionWithoutMouseIsUnknown)
{
    kit::DeviceHost host("Vantrel\nbuttonorder 2 3 2 1\n");
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CConfigH: Unknown option \"buttonorder\" found at line 2."}));
}

TEST(DeviceInit, MouseIdsCountOnceAndMustBeOnTheBus)
{
    {
        // Given twice, a mouse is still one mouse: one controller entry.
        kit::DeviceHost host("Vantrel 2\nmouse 2 2\nmouse 2\nport /nonexistent/port\n");
        initOutput(host, -1);
        EXPECT_EQ(host.controllers().count(), 1u);
        EXPECT_EQ(host.trackers().count(), 2u);
    }
    // Address 4 is off the bus once the SRT makes the flock two units.
    kit::DeviceHost host("Vantrel 2\nmouse 4\nsrt 1\n");
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}));
}

TEST(DeviceInit, AnEmptyMouseLineIsTakenAndChangesNothing)
{
    kit::DeviceHost host("Vantrel\nmouse\nport /nonexistent/port\n");
    const Lines lines = initOutput(host, -1);
    ASSERT_FALSE(lines.empty());
    // No diagnostic before the report, and no mouse in it.
    EXPECT_EQ(lines.front(), "Dev: INFO: DEVICE NAME           : Vantrel");
    EXPECT_EQ(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) { return line.find("MICE") != std::string::npos; }),
              lines.end());
    EXPECT_EQ(host.config().line(0).consumed, 1);
    EXPECT_EQ(host.controllers().count(), 0u);
}

TEST(DeviceInit, AMouseOnTheErcsAddressIsRefused)
{
    for (const char* text : {"Vantrel 2\nmouse 2 1\n", "Vantrel 2\nmouse 3\nerc 3\n"}) {
        kit::DeviceHost host(text);
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        EXPECT_EQ(capture.lines(), (Lines{"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}))
            << text;
        EXPECT_EQ(host.controllers().count(), 0u);
    }
}

TEST(DeviceInit, AStorageCountBeyondTheListIsRefusedAsItStands)
{
    {
        kit::DeviceHost host("Vantrel\nport /nonexistent/port\n");
        *host.trackers().storage()->countPtr = 0xFFFFFFFFu;
        kit::StdoutCapture capture;
        EXPECT_EQ(host.init(), -1);
        EXPECT_EQ(capture.lines(), (Lines{"Host: ERROR: CDataStorage: The new number is too big."}));
        EXPECT_EQ(host.trackers().count(), 0xFFFFFFFFu);
    }
    kit::DeviceHost host("Vantrel\nport /nonexistent/port\nmouse 2\n");
    *host.controllers().storage()->countPtr = 33;
    kit::StdoutCapture capture;
    EXPECT_EQ(host.init(), -1);
    EXPECT_EQ(capture.lines(), (Lines{"Host: ERROR: CDataStorage: The new number is too big."}));
    EXPECT_EQ(host.controllers().count(), 33u);
    EXPECT_EQ(host.trackers().count(), 2u);
}

TEST(DeviceInit, DevicesSharingAStorageTakeConsecutiveRanges)
{
    kit::DeviceHost first("Vantrel 3\nport /nonexistent/port\n");
    initOutput(first, -1);
    kit::DeviceHost second("Vantrel 2\nport /nonexistent/port\nmouse 2\n");
    second.initInfo().trackerStorage = first.trackers().storage();
    second.initInfo().controllerStorage = first.controllers().storage();
    const Lines lines = initOutput(second, -1);
    EXPECT_EQ(first.trackers().count(), 5u);
    EXPECT_EQ(first.controllers().count(), 1u);
    // The second device's trackers are published as 4 and 5.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Dev: INFO:                       : 2->4 3->5"), lines.end());
}

TEST(DeviceReport, Defaults)
{
    kit::DeviceHost host("Vantrel\nport /nonexistent/port\n");
    EXPECT_EQ(initOutput(host, -1), (Lines{
                                         "Dev: INFO: DEVICE NAME           : Vantrel",
                                         "Dev: INFO: DEVICE TYPE           : Vantrel(tm)",
                                         "Dev: INFO: VERSION               : 5.5",
                                         "Dev: INFO: DATA TYPE             : Tracker",
                                         "Dev: INFO: SERIAL PORT           : /nonexistent/port",
                                         "Dev: INFO: BAUD RATE             : 38400",
                                         "Dev: INFO: ADDRESSING MODE       : Normal",
                                         "Dev: INFO: HEMISPEHRE            : +Z",
                                         "Dev: INFO: SYNC TYPE             : Off",
                                         "Dev: INFO: FILTER                : Unused",
                                         "Dev: INFO: REPORT RATE           : Every single sampling",
                                         "Dev: INFO: TRANSMITTER           : ERC on device ID:1",
                                         "Dev: INFO: NUMBER OF DEVICES     : 3",
                                         "Dev: INFO: NUMBER OF TRACKERS    : 2",
                                         "Dev: INFO: CAVE COORDINATES      : Used",
                                         "Dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                                         "Dev: INFO:                       : 2->1 3->2",
                                         "Dev: INFO: -----------------------",
                                     }));
}

TEST(DeviceReport, SrtAndEveryOptionSet)
{
    kit::DeviceHost host("Vantrel 4\n"
                         "SerialPort /nonexistent/port\n"
                         "BaudRate 115200\n"
                         "addressingmode SUPER\n"
                         "HEMISPHERE -Z\n"
                         "filter on\n"
                         "reportrate 32\n"
                         "sync type2\n"
                         "srt 1\n"
                         "scaling 72\n"
                         "measurementrate 0x90\n");
    EXPECT_EQ(initOutput(host, -1), (Lines{
                                         "Dev: INFO: DEVICE NAME           : Vantrel",
                                         "Dev: INFO: DEVICE TYPE           : Vantrel(tm)",
                                         "Dev: INFO: VERSION               : 5.5",
                                         "Dev: INFO: DATA TYPE             : Tracker",
                                         "Dev: INFO: SERIAL PORT           : /nonexistent/port",
                                         "Dev: INFO: BAUD RATE             : 115200",
                                         "Dev: INFO: ADDRESSING MODE       : Super",
                                         "Dev: INFO: HEMISPEHRE            : -Z",
                                         "Dev: INFO: POSITION SCALING      : Max 72 inches",
                                         "Dev: INFO: MEASUREMENT RATE      : 144",
                                         "Dev: INFO: SYNC TYPE             : Type2",
                                         "Dev: INFO: FILTER                : Used",
                                         "Dev: INFO: REPORT RATE           : Every 32 samplings",
                                         "Dev: INFO: TRANSMITTER           : SRT on device ID:1",
                                         "Dev: INFO: NUMBER OF DEVICES     : 4",
                                         "Dev: INFO: NUMBER OF TRACKERS    : 4",
                                         "Dev: INFO: CAVE COORDINATES      : Used",
                                         "Dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                                         "Dev: INFO:                       : 1->1 2->2 3->3 4->4",
                                         "Dev: INFO: -----------------------",
                                     }));
}

TEST(DeviceReport, TwoMiceAndAnErcFurtherDown)
{
    kit::DeviceHost host("Vantrel 4\nport /nonexistent/port\nsrt 1\nerc 5\nmouse 4 2\n");
    const Lines lines = initOutput(host, -1);
    const Lines expectedTail{
        "Dev: INFO: TRANSMITTER           : ERC on device ID:5",
        "Dev: INFO: NUMBER OF DEVICES     : 5",
        "Dev: INFO: NUMBER OF TRACKERS    : 4",
        "Dev: INFO: NUMBER OF MICE        : 2",
        "Dev: INFO: MOUSE DEVICE IDs      : 2 4",
        "Dev: INFO: CAVE COORDINATES      : Used",
        "Dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
        "Dev: INFO:                       : 1->1 2->2 3->3 4->4",
        "Dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
        "Dev: INFO:                       : 2->1 4->2",
        "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
        "Dev: INFO:                       : 2: 1->1 2->2 3->3",
        "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
        "Dev: INFO:                       : 4: 1->1 2->2 3->3",
        "Dev: INFO: -----------------------",
    };
    ASSERT_GE(lines.size(), expectedTail.size());
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(expectedTail.size()), lines.end()), expectedTail);
    kit::StdoutCapture capture;
    EXPECT_EQ(host.device().configure(), 0);  // the port never opened: the first write fails
}

TEST(DeviceReport, EveryLineEndsAfterAFailedInit)
{
    kit::DeviceHost host("Vantrel 0\n");
    initOutput(host, -1);
    kit::StdoutCapture capture;
    EXPECT_TRUE(host.device().print());
    const Lines lines = capture.lines();
    // Neither an ERC nor an SRT was set: the transmitter line stands alone.
    const auto transmitter = std::find(lines.begin(), lines.end(), "Dev: INFO: TRANSMITTER           : ");
    ASSERT_NE(transmitter, lines.end()) << capture.text();
    ASSERT_NE(transmitter + 1, lines.end());
    EXPECT_EQ(*(transmitter + 1), "Dev: INFO: -----------------------");
}

// With the logger switched off the module writes nothing at all, at any
// debug level: no value or order entry of a report, no unit's line, no tail
// of a diagnostic or of a system error; in init, configure, print and
// recvData, and in inits that fail.
TEST(DeviceReport, NothingAtAllWhenTheLoggerIsOff)
{
    for (const std::int32_t level : {0, 1, 4}) {
        SCOPED_TRACE(level);
        LogSettings settings = kit::plainLogSettings("Dev");
        settings.enabled = 0;
        settings.debugLevel = level;
        flocksim::Setup setup = flocksim::Setup::flock(4, 1);
        setup.units[1].mouse = true;
        setup.units[3].running = false;  // its status line fails configure at levels 1 and 4
        kit::FlockPartner partner(setup);
        const std::string port = "\nport " + partner.portName();
        kit::StdoutCapture capture;
        {
            kit::DeviceHost host("Vantrel 3" + port +
                                     "\nmouse 2\nbuttonorder 2 3 1 2\ntransmitteroffset 1 2 3\n"
                                     "transmitterrotation 0 0 1 90\nsensoroffset 2 0.5 0 0\nsensorrotation 3 1 0 0 45\n",
                                 settings);
            EXPECT_EQ(host.init(), 1);
            EXPECT_EQ(host.device().configure(), level == 0 ? 1 : 0);
            EXPECT_TRUE(host.device().print());
            EXPECT_TRUE(host.device().start());
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(host.receive(), 1);
            }
            EXPECT_TRUE(host.device().stop());
        }
        for (const std::string& failing :
             {std::string("Vantrel 3\nbaud 1 2\nhemisphere w\nmouse 9\n"),  // diagnostics
              std::string("Vantrel 3\nnosuchoption 1") + port,              // an unknown option
              std::string("Vantrel 3\ncalibration /no/such/library.so") + port,
              std::string("Vantrel 3\nport /no/such/port\n"),              // the system's error
              std::string("Vantrel 3\nbaud 14400") + port}) {
            kit::DeviceHost host(failing, settings);
            EXPECT_EQ(host.init(), -1) << failing;
        }
        EXPECT_EQ(capture.text(), "");
    }
}

// Two devices, each on a thread of its own as a host runs them, write their
// reports at the same time: every line reaches standard output whole.
TEST(DeviceReport, TwoDevicesLoggingAtOnceWriteWholeLines)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.debugLevel = 4;
    kit::FlockPartner leftLine(flocksim::Setup::flock(3, 1));
    kit::FlockPartner rightLine(flocksim::Setup::flock(3, 1));
    kit::DeviceHost left("Left 2\nport " + leftLine.portName() +
                             "\nmouse 2\ntransmitterrotation 0 0 1 30\nsensoroffset 2 0.5 0 0\n",
                         settings);
    kit::DeviceHost right("Right 2\nport " + rightLine.portName() + "\ntransmitteroffset 1 2 3\nsensorrotation 3 0 1 0 60\n",
                          settings);
    {
        kit::StdoutCapture quiet;
        ASSERT_EQ(left.init(), 1);
        ASSERT_EQ(right.init(), 1);
    }
    // The lines that each report writes when it is alone.
    std::set<std::string> whole;
    std::size_t perRound = 0;
    for (kit::DeviceHost* host : {&left, &right}) {
        kit::StdoutCapture alone;
        host->device().print();
        const Lines lines = alone.lines();
        whole.insert(lines.begin(), lines.end());
        perRound += lines.size();
    }
    constexpr int kRounds = 200;
    kit::StdoutCapture capture;
    std::thread leftThread([&left] {
        for (int i = 0; i < kRounds; ++i) {
            left.device().print();
        }
    });
    std::thread rightThread([&right] {
        for (int i = 0; i < kRounds; ++i) {
            right.device().print();
        }
    });
    leftThread.join();
    rightThread.join();
    const Lines lines = capture.lines();
    EXPECT_EQ(lines.size(), perRound * kRounds);
    std::size_t broken = 0;
    for (const std::string& line : lines) {
        if (whole.count(line) == 0 && ++broken <= 5) {
            ADD_FAILURE() << "not a whole line: \"" << line << "\"";
        }
    }
    EXPECT_EQ(broken, 0u);
}

}  // namespace
