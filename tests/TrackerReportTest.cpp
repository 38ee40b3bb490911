#include <gtest/gtest.h>

#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/CLogH.h"
#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "kit/TrackerLayer.h"
#include "tracker/CTraCommonH.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kOrder = "Dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>";
const std::string kMore = "Dev: INFO:                       :";
const std::string kIdentityRows[3] = {
    " [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000",
    " [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000",
    " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000",
};

// Three units, the ERC at address 1 (real trackers 2 and 3 published).
class TrackerReport : public ::testing::Test {
protected:
    TrackerReport() : log(kit::plainLogSettings("Dev")), layer(kit::makeTrackerLayer(log, 3, 1)) {}

    void configure(const std::string& options)
    {
        kit::ConfigText config("Vantrel 3\n" + options);
        kit::StdoutCapture quiet;
        ASSERT_TRUE(layer->parseOptions(config.block())) << quiet.text();
    }

    Lines report(bool showCave = true)
    {
        kit::StdoutCapture capture;
        EXPECT_TRUE(layer->printReport(showCave));
        return capture.lines();
    }

    CLogH log;
    std::unique_ptr<CTraCommonH> layer;
};

TEST_F(TrackerReport, DefaultLayout)
{
    EXPECT_EQ(report(), (Lines{"Dev: INFO: CAVE COORDINATES      : Used", kOrder, kMore + " 2->1 3->2"}));
    layer->outputOffset = 4;
    layer->caveCoordinates = false;
    EXPECT_EQ(report(), (Lines{"Dev: INFO: CAVE COORDINATES      : Unused", kOrder, kMore + " 2->5 3->6"}));
    EXPECT_EQ(report(false), (Lines{kOrder, kMore + " 2->5 3->6"}));
}

TEST_F(TrackerReport, NumbersAreDecimalWhateverBaseTheHostLeft)
{
    layer->outputOffset = 8;
    std::cout << std::hex;
    const Lines lines = report();
    const bool stillHex = (std::cout.flags() & std::ios_base::basefield) == std::ios_base::hex;
    std::cout << std::dec;
    EXPECT_TRUE(stillHex);
    EXPECT_EQ(lines, (Lines{"Dev: INFO: CAVE COORDINATES      : Used", kOrder, kMore + " 2->9 3->10"}));
}

TEST_F(TrackerReport, NothingPublished)
{
    CTraCommonH bare(&log);
    bare.setUp(2);
    kit::StdoutCapture capture;
    bare.printReport(false);
    EXPECT_EQ(capture.lines(), (Lines{kOrder, kMore}));
}

TEST_F(TrackerReport, TransmitterOffset)
{
    configure("transmitteroffset 1 2 3\n");
    const Lines expected{
        "Dev: INFO: CAVE COORDINATES      : Used",
        "Dev: INFO: TRANSMITTER OFFSET    : X:1 Y:2 Z:3",
        "Dev: INFO: TRANSMITTER TRANSFORM :" + kIdentityRows[0],
        kMore + kIdentityRows[1],
        kMore + kIdentityRows[2],
        "",
        kOrder,
        kMore + " 2->1 3->2",
    };
    EXPECT_EQ(report(), expected);
    // Every report starts in the stream's own format again.
    EXPECT_EQ(report(), expected);
}

TEST_F(TrackerReport, TransmitterRotationShowsBothBlocks)
{
    configure("transmitterrotationmatrix 1 0 0 0 -0.5 0 0 0 12\n");
    const Lines rows{
        " [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000",
        " [1][0]: 0.000 [1][1]:-0.500 [1][2]: 0.000",
        " [2][0]: 0.000 [2][1]: 0.000 [2][2]:12.000",
    };
    EXPECT_EQ(report(false), (Lines{
                                 "Dev: INFO: TRANSMITTER ROTATION  :" + rows[0],
                                 kMore + rows[1],
                                 kMore + rows[2],
                                 "",
                                 "Dev: INFO: TRANSMITTER TRANSFORM :" + rows[0],
                                 kMore + rows[1],
                                 kMore + rows[2],
                                 "",
                                 kOrder,
                                 kMore + " 2->1 3->2",
                             }));
}

// After a matrix block the offsets of the same report are in fixed notation.
TEST_F(TrackerReport, SensorSettingsAfterABlock)
{
    configure("transmitterrotation 0 0 0 0\n"
              "sensoroffset 2 0.5 0 0\n"
              "sensortranslation 3 1 1 1\n"
              "sensorrotation 3 0 0 1 90\n"
              "sensoroffset 1 7 7 7\n");
    EXPECT_EQ(report(false), (Lines{
                                 "Dev: INFO: TRANSMITTER ROTATION  :" + kIdentityRows[0],
                                 kMore + kIdentityRows[1],
                                 kMore + kIdentityRows[2],
                                 "",
                                 "Dev: INFO: TRANSMITTER TRANSFORM :" + kIdentityRows[0],
                                 kMore + kIdentityRows[1],
                                 kMore + kIdentityRows[2],
                                 "",
                                 kOrder,
                                 kMore + " 2->1 3->2",
                                 "Dev: INFO: SENSOR OFFSET         : 2 X:0.500 Y:0.000 Z:0.000",
                                 "Dev: INFO: SENSOR TRANSFORM      : 2" + kIdentityRows[0],
                                 kMore + " 2" + kIdentityRows[1],
                                 kMore + " 2" + kIdentityRows[2],
                                 "",
                                 "Dev: INFO: SENSOR ROTATION       : 3 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000",
                                 kMore + " 3 [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000",
                                 kMore + " 3" + kIdentityRows[2],
                                 "",
                                 "Dev: INFO: SENSOR TRANSFORM      : 3 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000",
                                 kMore + " 3 [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000",
                                 kMore + " 3" + kIdentityRows[2],
                                 "",
                             }));
}

TEST_F(TrackerReport, SensorOffsetWithoutABlockUsesTheStreamFormat)
{
    configure("sensoroffset 3 0.25 -2 0\n");
    const Lines lines = report(false);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "Dev: INFO: SENSOR OFFSET         : 3 X:0.25 Y:-2 Z:0");
}

TEST_F(TrackerReport, LeavesTheHostsStreamFormatAlone)
{
    configure("transmitterrotation 0 1 0 30\ntransmitteroffset 1.5 0 0\n");
    std::cout << std::scientific << std::setprecision(9) << std::setfill('*');
    const std::ios_base::fmtflags flags = std::cout.flags();
    std::cout.width(4);
    const Lines lines = report();
    EXPECT_EQ(std::cout.flags(), flags);
    EXPECT_EQ(std::cout.precision(), 9);
    EXPECT_EQ(std::cout.fill(), '*');
    EXPECT_EQ(std::cout.width(), 4);
    std::cout.width(0);
    std::cout.flags(std::ios_base::dec | std::ios_base::skipws);
    std::cout.precision(6);
    std::cout.fill(' ');
    // The offset comes before any block: written in the stream's format.
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[1], "Dev: INFO: TRANSMITTER OFFSET    : X:1.500000000e+00 Y:0.000000000e+00 Z:0.000000000e+00");
    EXPECT_EQ(lines[2], "Dev: INFO: TRANSMITTER ROTATION  : [0][0]: 0.866 [0][1]: 0.000 [0][2]:-0.500");
}

TEST_F(TrackerReport, CalibrationLibrary)
{
    configure("calibration no-such-calib.so near far\n");
    EXPECT_EQ(report(false), (Lines{
                                 kOrder,
                                 kMore + " 2->1 3->2",
                                 "Dev: INFO: CALIBRATION LIBRARY   : name:no-such-calib.so",
                                 kMore + " arg[0]:near",
                                 kMore + " arg[1]:far",
                             }));
}

TEST_F(TrackerReport, NoValueWhenTheLoggerIsOff)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.enabled = 0;
    const CLogH quiet(settings);
    layer = kit::makeTrackerLayer(quiet, 3, 0);
    configure("transmitteroffset 0 0 2\n");
    EXPECT_EQ(report(), Lines{});
}

}  // namespace
