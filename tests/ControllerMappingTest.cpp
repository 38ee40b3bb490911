#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "common/DataRecords.h"
#include "tracker/SampleTransform.h"
#include "controller/CConCommonH.h"
#include "kit/ControllerLayer.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

using kit::makeMouseLayer;
using kit::parseControllerOptions;
using Lines = std::vector<std::string>;

ControllerData freshRecord()
{
    ControllerData record;
    resetControllerData(record);
    return record;
}

Lines reportOf(const CConCommonH& layer)
{
    kit::StdoutCapture capture;
    EXPECT_TRUE(layer.printReport());
    return capture.lines();
}

TEST(ControllerButtonBits, RefusedButtonsLeaveTheRecordAlone)
{
    ControllerData record = freshRecord();
    record.buttonCount = toNetwork32(32);
    record.buttonBytes = 1;
    const ControllerData before = record;
    EXPECT_FALSE(setButtonBit(record, 9, 1));  // its byte is beyond buttonBytes
    EXPECT_FALSE(setButtonBit(record, 0, 1));
    EXPECT_FALSE(setButtonBit(record, 33, 1));
    record.buttonBytes = 4;
    record.buttonCount = toNetwork32(3);
    EXPECT_FALSE(setButtonBit(record, 4, 1));  // above the declared count
    record.buttonBytes = 1;
    record.buttonCount = before.buttonCount;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

TEST(ControllerButtonBits, BitsAreSetAndClearedInPlace)
{
    ControllerData record = freshRecord();
    record.buttonCount = toNetwork32(3);
    EXPECT_TRUE(setButtonBit(record, 3, 1));
    EXPECT_EQ(record.buttonBits[0], 0x04);
    EXPECT_TRUE(setButtonBit(record, 1, 7));
    EXPECT_EQ(record.buttonBits[0], 0x05);
    EXPECT_TRUE(setButtonBit(record, 3, 0));
    EXPECT_TRUE(setButtonBit(record, 2, -1));  // only a positive value presses
    EXPECT_EQ(record.buttonBits[0], 0x01);

    record.buttonCount = toNetwork32(32);
    EXPECT_TRUE(setButtonBit(record, 9, 1));
    EXPECT_TRUE(setButtonBit(record, 32, 1));
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    EXPECT_EQ(bytes[165], 0x01);
    EXPECT_EQ(bytes[167], 0x80);
}

TEST(ControllerMapping, DefaultMapsPublishEachMouseAfterTheOffset)
{
    auto layer = makeMouseLayer(3, {2, 3});
    layer->outputOffset = 4;
    EXPECT_FALSE(layer->isPublished(1));
    EXPECT_TRUE(layer->isPublished(2));
    EXPECT_TRUE(layer->isPublished(3));

    ControllerData record = freshRecord();
    ASSERT_TRUE(layer->fillControllerRecord(3, 0x10, record));
    EXPECT_EQ(fromNetwork32(record.storageIndex), 6u);
    EXPECT_EQ(fromNetwork32(record.valuatorCount), 0u);
    EXPECT_EQ(fromNetwork32(record.buttonCount), 3u);
    EXPECT_EQ(fromNetwork32(record.valuatorOffset), 36u);
    EXPECT_EQ(fromNetwork32(record.buttonOffset), 36u);
    EXPECT_EQ(record.buttonBits[0], 0x01);
    EXPECT_EQ(record.buttonBytes, 4u);

    // Only the exact codes press a button.
    ASSERT_TRUE(layer->fillControllerRecord(2, 0x50, record));
    EXPECT_EQ(fromNetwork32(record.storageIndex), 5u);
    EXPECT_EQ(record.buttonBits[0], 0x00);
    ASSERT_TRUE(layer->fillControllerRecord(2, 0x70, record));
    EXPECT_EQ(record.buttonBits[0], 0x04);
}

TEST(ControllerMapping, ButtonCodesGoThroughAReorderedMap)
{
    auto layer = makeMouseLayer(3, {2, 3});
    // Output 1 is fed by real 3, output 2 by real 1, output 3 by real 2.
    ASSERT_TRUE(parseControllerOptions(*layer, "buttonorder 3 3 1 2\n").result);
    ControllerData record = freshRecord();
    record.buttonBits[0] = 0xFF;
    ASSERT_TRUE(layer->fillControllerRecord(3, 0x30, record));
    EXPECT_EQ(record.buttonBits[0], 0xFC);  // output 3 set, outputs 1 and 2 cleared
    ASSERT_TRUE(layer->fillControllerRecord(3, 0x70, record));
    EXPECT_EQ(record.buttonBits[0], 0xF9);
    ASSERT_TRUE(layer->fillControllerRecord(3, 0x00, record));
    EXPECT_EQ(record.buttonBits[0], 0xF8);
}

TEST(ControllerMapping, LoweredButtonCountLeavesTheThirdButtonWithoutOutput)
{
    auto layer = makeMouseLayer(1, {1});
    ASSERT_TRUE(parseControllerOptions(*layer, "buttonorder 1 1 2\n").result);
    ControllerData record = freshRecord();
    ASSERT_TRUE(layer->fillControllerRecord(1, 0x70, record));
    EXPECT_EQ(fromNetwork32(record.buttonCount), 2u);
    EXPECT_EQ(record.buttonBits[0], 0x00);
    ASSERT_TRUE(layer->fillControllerRecord(1, 0x30, record));
    EXPECT_EQ(record.buttonBits[0], 0x02);
}

TEST(ControllerMapping, ValuatorsMoveTheButtonBlock)
{
    auto layer = makeMouseLayer(1, {});
    layer->setController(1, 1, 5, 2);
    ControllerData record = freshRecord();
    ASSERT_TRUE(layer->fillControllerRecord(1, 0x30, record));
    EXPECT_EQ(fromNetwork32(record.valuatorCount), 5u);
    EXPECT_EQ(fromNetwork32(record.buttonOffset), 56u);
    EXPECT_EQ(record.buttonBits[0], 0x02);
}

TEST(ControllerMapping, UnpublishedControllersAndOutOfRangeIdsWriteNothing)
{
    auto layer = makeMouseLayer(3, {2});
    layer->setController(1, 0, 0, 3);   // a mouse that is not published
    layer->setController(3, 33, 0, 3);  // beyond the host's list
    ControllerData record = freshRecord();
    record.storageIndex = toNetwork32(9);
    const ControllerData before = record;
    for (std::uint32_t realId : {0u, 1u, 3u, 4u}) {
        EXPECT_FALSE(layer->isPublished(realId)) << realId;
        EXPECT_FALSE(layer->fillControllerRecord(realId, 0x10, record)) << realId;
    }
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);

    // An output number beyond 32 after the offset keeps the ID field's
    // previous content; the rest of the record is still filled.
    layer->outputOffset = 32;
    ASSERT_TRUE(layer->fillControllerRecord(2, 0x10, record));
    EXPECT_EQ(fromNetwork32(record.storageIndex), 9u);
    EXPECT_EQ(fromNetwork32(record.buttonCount), 3u);
    EXPECT_EQ(record.buttonBits[0], 0x01);
}

TEST(ControllerReport, OneControllerHasNoPrefix)
{
    auto layer = makeMouseLayer(1, {1});
    EXPECT_EQ(reportOf(*layer), (Lines{
                                    "Dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
                                    "Dev: INFO:                       : 1->1",
                                    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
                                    "Dev: INFO:                       : 1->1 2->2 3->3",
                                }));
}

TEST(ControllerReport, SeveralControllersCarryTheOffsetAndTheirPrefix)
{
    auto layer = makeMouseLayer(3, {2, 3});
    layer->setController(1, 0, 0, 3);  // not published: missing from every section
    layer->outputOffset = 4;
    ASSERT_TRUE(parseControllerOptions(*layer, "buttonorder 3 3 1 2\n").result);
    EXPECT_EQ(reportOf(*layer), (Lines{
                                    "Dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
                                    "Dev: INFO:                       : 2->5 3->6",
                                    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
                                    "Dev: INFO:                       : 2: 1->1 2->2 3->3",
                                    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
                                    "Dev: INFO:                       : 3: 1->2 2->3 3->1",
                                }));
}

std::unique_ptr<CConCommonH> makeStickLayer(const LogSettings& settings)
{
    auto layer = makeMouseLayer(1, {}, settings);
    layer->setController(1, 1, 7, 3);
    const auto run = parseControllerOptions(*layer,
                                            "valuatorscale 1 [0.5,0,2,-1] 2\n"
                                            "valuatorscale 1 0 3\n"
                                            "valuatorscale 1 [1,-1,2,0] 4\n"
                                            "valuatorscale 1 -1.25 5\n"
                                            "valuatorscale 1 [-1,0,0,0.1] 6\n"
                                            "valuatororder 1 1 2 3 4 5 6 0 7\n"
                                            "emulatetracker 1 [1.5,-2,1234.5678,90,-45.5,180] 1 2 3 0 5 6 2\n");
    EXPECT_TRUE(run.result);
    return layer;
}

const Lines kStickReport = {
    "Dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
    "Dev: INFO:                       : 1->1",
    "Dev: INFO: VALUATOR ORDER(SCALE) : <Real val> -> <Output val>",
    "Dev: INFO:                       : 1->1(1X) 2->2(0.5X^3+2X-1) 3->3() 4->4(1X^3-1X^2+2X) 5->5(-1.25X)"
    " 6->6(-1X^3+0.1) 7->8(1X)",
    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
    "Dev: INFO:                       : 1->1 2->2 3->3",
    "Dev: INFO: TRACKER EMULATION     : As tracker[0]",
    "Dev: INFO:                       : Init Values: X=1.5 Y=-2 Z=1234.57",
    "Dev: INFO:                       : Init Values: Azim=90 Elev=-45.5 Roll=180",
    "Dev: INFO:                       : Val Assign : 1->X 2->Y 3->Z 5->Elev 6->Roll",
    "Dev: INFO:                       : Reset But  : 2",
};

TEST(ControllerReport, EmulationAndScalePolynomials)
{
    auto layer = makeStickLayer(kit::plainLogSettings("Dev"));
    EXPECT_EQ(reportOf(*layer), kStickReport);
}

TEST(ControllerReport, StreamFormatIsNeitherUsedNorChanged)
{
    auto layer = makeStickLayer(kit::plainLogSettings("Dev"));
    const std::ios_base::fmtflags hostFlags =
        std::ios_base::hex | std::ios_base::showpos | std::ios_base::uppercase | std::ios_base::scientific |
        std::ios_base::showpoint | std::ios_base::left;
    const std::ios_base::fmtflags savedFlags = std::cout.flags(hostFlags);
    const std::streamsize savedPrecision = std::cout.precision(2);
    const char savedFill = std::cout.fill('*');
    std::cout.width(9);
    const Lines lines = reportOf(*layer);
    EXPECT_EQ(std::cout.flags(), hostFlags);
    EXPECT_EQ(std::cout.precision(), 2);
    EXPECT_EQ(std::cout.fill(), '*');
    EXPECT_EQ(std::cout.width(), 9);
    std::cout.flags(savedFlags);
    std::cout.precision(savedPrecision);
    std::cout.fill(savedFill);
    std::cout.width(0);
    EXPECT_EQ(lines, kStickReport);
}

TEST(ControllerReport, NoItemWhenTheLoggerIsOff)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.enabled = 0;
    auto layer = makeStickLayer(settings);
    EXPECT_EQ(reportOf(*layer), Lines{});
}

TEST(ControllerReport, EmulationOfOneOfSeveralControllers)
{
    auto layer = makeMouseLayer(2, {1, 2});
    ASSERT_TRUE(parseControllerOptions(*layer, "emulatetracker 2 [0,0,0,0,0,0] 0 0 0 0 0 0\n").result);
    EXPECT_EQ(reportOf(*layer), (Lines{
                                    "Dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>",
                                    "Dev: INFO:                       : 1->1 2->2",
                                    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
                                    "Dev: INFO:                       : 1: 1->1 2->2 3->3",
                                    "Dev: INFO: BUTTON ORDER          : <Real but> -> <Output but>",
                                    "Dev: INFO:                       : 2: 1->1 2->2 3->3",
                                    "Dev: INFO: TRACKER EMULATION     : 2->tracker[0]",
                                    "Dev: INFO:                       : 2: Init Values: X=0 Y=0 Z=0",
                                    "Dev: INFO:                       : 2: Init Values: Azim=0 Elev=0 Roll=0",
                                    "Dev: INFO:                       : 2: Val Assign :",
                                }));
}

}  // namespace
