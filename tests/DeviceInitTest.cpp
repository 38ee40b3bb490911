// Device options, initialisation and the status report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
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

// Every bounded option at its smallest and its largest value and one past
// each, on the largest flock: 32 units behind one device line, with the ERC
// at bus address 1 unless a row moves it, so 33 bus addresses, tracker maps
// and controller maps. A row without diagnostics initialises.
TEST(DeviceInit, EveryBoundedOptionAtItsBoundsAndOnePast)
{
    flocksim::Setup setup = flocksim::Setup::flock(33, 1);
    setup.maxAddress = 126;
    kit::FlockPartner partner(setup);
    ASSERT_TRUE(partner.started()) << partner.problem();

    std::string allMice = "mouse";
    for (int address = 2; address <= 33; ++address) {
        allMice += " " + std::to_string(address);
    }
    const std::string calibration = std::string("calibration ") + VANTREL_CALIB_TEST_PATH + " 1 2 3 4 5 6 7 8 9 10";
    const char* const outOfRoom = "Host: ERROR: CDataStorage: The new number is too big.";
    struct Bound {
        std::string text;  // the device line and the options; the port line follows
        Lines diagnostics;  // init's whole output when it fails; none: init succeeds
        // Entries that an earlier device holds in the tracker and controller storages.
        std::uint32_t takenTrackers = 0;
        std::uint32_t takenControllers = 0;
        // The storages' counts after a successful init.
        std::uint32_t trackers = 0;
        std::uint32_t controllers = 0;
    };
    const Bound bounds[] = {
        // The device line: 1 to 32 units. 32 need super addressing to be
        // configured (below).
        {"Vantrel 0", {"Dev: ERROR: CVantrel: Invalid arg found for Vantrel at line 1."}},
        {"Vantrel 1", {}, 0, 0, 1},
        {"Vantrel 32\naddressingmode super", {}, 0, 0, 32},
        {"Vantrel 33", {"Dev: ERROR: CVantrel: Invalid arg found for Vantrel at line 1."}},
        // The ERC: bus address 1 to units + 1.
        {"Vantrel 32\nerc 0", {"Dev: ERROR: CVantrel: Invalid ID found for ERC at line 2."}},
        {"Vantrel 32\nerc 1", {}, 0, 0, 32},
        {"Vantrel 32\nerc 33", {}, 0, 0, 32},
        {"Vantrel 32\nerc 34", {"Dev: ERROR: CVantrel: Invalid ID found for ERC at line 2."}},
        // The SRT: 1 to units.
        {"Vantrel 32\nsrt 0", {"Dev: ERROR: CVantrel: Invalid ID found for SRT at line 2."}},
        {"Vantrel 32\nsrt 1", {}, 0, 0, 32},
        {"Vantrel 32\nsrt 32", {}, 0, 0, 32},
        {"Vantrel 32\nsrt 33", {"Dev: ERROR: CVantrel: Invalid ID found for SRT at line 2."}},
        // The measurement rate: 20 to 144.
        {"Vantrel 32\nmeasurementrate 19", {"Dev: ERROR: CVantrel: Invalid ID found for MeasurementRate at line 2."}},
        {"Vantrel 32\nmeasurementrate 20", {}, 0, 0, 32},
        {"Vantrel 32\nmeasurementrate 144", {}, 0, 0, 32},
        {"Vantrel 32\nmeasurementrate 145", {"Dev: ERROR: CVantrel: Invalid ID found for MeasurementRate at line 2."}},
        // Mouse IDs: 1 to 126 on a line, and on a unit of the bus (1 to 33
        // but the ERC's; with the SRT on unit 1, 1 to 32). 32 mice fill the
        // controller storage.
        {"Vantrel 32\nmouse 0", {"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}},
        {"Vantrel 32\nsrt 1\nmouse 1", {}, 0, 0, 32, 1},
        {"Vantrel 32\nmouse 33", {}, 0, 0, 32, 1},
        {"Vantrel 32\nmouse 34", {"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}},
        {"Vantrel 32\nmouse 126", {"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}},
        {"Vantrel 32\nmouse 127", {"Dev: ERROR: CVantrel: Invalid sensor ID found for Mouse at line 2."}},
        {"Vantrel 32\n" + allMice, {}, 0, 0, 32, 32},
        // Sensor IDs: the tracker maps 1 to 33.
        {"Vantrel 32\nsensoroffset 0 1 2 3", {"Dev: ERROR: Invalid tracker ID found for SensorOffset at line 2."}},
        {"Vantrel 32\nsensoroffset 1 1 2 3", {}, 0, 0, 32},
        {"Vantrel 32\nsensoroffset 33 1 2 3", {}, 0, 0, 32},
        {"Vantrel 32\nsensoroffset 34 1 2 3", {"Dev: ERROR: Invalid tracker ID found for SensorOffset at line 2."}},
        // The calibration library's arguments: up to 10.
        {"Vantrel 32\n" + calibration, {}, 0, 0, 32},
        {"Vantrel 32\n" + calibration + " 11", {"Dev: ERROR: Too many args found for Calibration at line 2."}},
        // Controller IDs: the controller maps 1 to 33; a mouse's buttons 1
        // to 3, its valuators none.
        {"Vantrel 32\nmouse 33\nbuttonorder 0",
         {"Dev: ERROR: Invalid controller ID found for Order option at line 3."}},
        {"Vantrel 32\nmouse 33\nbuttonorder 1", {}, 0, 0, 32, 1},
        {"Vantrel 32\nmouse 33\nbuttonorder 33 3 2 1", {}, 0, 0, 32, 1},
        {"Vantrel 32\nmouse 33\nbuttonorder 34",
         {"Dev: ERROR: Invalid controller ID found for Order option at line 3."}},
        {"Vantrel 32\nmouse 33\nbuttonorder 33 4", {"Dev: ERROR: Invalid ID found in Order option at line 3."}},
        {"Vantrel 32\nmouse 33\nvaluatororder 33 1", {"Dev: ERROR: Invalid ID found in Order option at line 3."}},
        {"Vantrel 32\nmouse 33\nemulatetracker 33 [0,0,0,0,0,0] 0 0 0 0 0 0 3", {}, 0, 0, 32, 1},
        {"Vantrel 32\nmouse 33\nemulatetracker 33 [0,0,0,0,0,0] 0 0 0 0 0 0 4",
         {"Dev: ERROR: Invalid button ID found for EmulateTracker option at line 3. Ignored."}},
        {"Vantrel 32\nmouse 33\nemulatetracker 33 [0,0,0,0,0,0] 1 0 0 0 0 0",
         {"Dev: ERROR: Invalid valuator ID found for EmulateTracker option at line 3."}},
        // Output counts: 32 entries in each storage, whoever holds them.
        {"Vantrel 1\nmouse 2", {}, 31, 31, 32, 32},
        {"Vantrel 1", {outOfRoom}, 32},
        {"Vantrel 1\nmouse 2", {outOfRoom}, 0, 32},
    };
    for (const Bound& bound : bounds) {
        SCOPED_TRACE(bound.text);
        kit::DeviceHost host(bound.text + "\nport " + partner.portName() + "\n");
        if (bound.takenTrackers > 0) {
            ASSERT_TRUE(host.trackers().storage()->setTrackerDataCount(bound.takenTrackers));
        }
        if (bound.takenControllers > 0) {
            ASSERT_TRUE(host.controllers().storage()->setControllerDataCount(bound.takenControllers));
        }
        std::int32_t result = 0;
        Lines lines;
        {
            kit::StdoutCapture capture;
            result = host.init();
            lines = capture.lines();
        }
        if (!bound.diagnostics.empty()) {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(lines, bound.diagnostics);
            continue;
        }
        EXPECT_EQ(result, 1);
        // Nothing but the status report (its INFO lines and empty lines).
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const std::string& line) {
                                       return line.empty() || line.rfind("Dev: INFO: ", 0) == 0;
                                   }),
                    lines.end());
        EXPECT_EQ(lines, Lines{});
        EXPECT_EQ(host.trackers().count(), bound.trackers);
        EXPECT_EQ(host.controllers().count(), bound.controllers);
        if (bound.text == "Vantrel 32\naddressingmode super") {
            // The whole flock is configured: auto-configured as 33 units, and
            // every unit answers.
            kit::StdoutCapture capture;
            EXPECT_EQ(host.device().configure(), 2) << capture.text();
            const std::vector<std::uint8_t> received = partner.received();
            const std::uint8_t autoConfig[] = {0x50, 0x32, 33};
            EXPECT_NE(std::search(received.begin(), received.end(), std::begin(autoConfig), std::end(autoConfig)),
                      received.end());
        }
    }
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
