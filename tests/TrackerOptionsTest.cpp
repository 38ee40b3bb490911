#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/CLogH.h"
#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"
#include "kit/TrackerLayer.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"

namespace {

// Three units on the bus, the ERC at address 1: real trackers 2 and 3 are
// outputs 1 and 2.
class TrackerOptions : public ::testing::Test {
protected:
    TrackerOptions() : log(kit::plainLogSettings("Dev")), layer(kit::makeTrackerLayer(log, 3, 1)) {}

    // Parses the options (the text's first line is the device line) and
    // returns what was written.
    std::vector<std::string> parse(const std::string& text, bool expected)
    {
        config = std::make_unique<kit::ConfigText>(text);
        kit::StdoutCapture capture;
        EXPECT_EQ(layer->parseOptions(config->block()), expected) << text;
        return capture.lines();
    }

    void expectMatrix(const Matrix4& actual, const std::vector<float>& expected, float tolerance = 0.0f)
    {
        for (unsigned i = 0; i < 16; ++i) {
            EXPECT_NEAR(actual.m[i], expected[i], tolerance) << "element " << i / 4 << "," << i % 4;
        }
    }

    // Nothing of any placement applied.
    void expectNoPlacement()
    {
        EXPECT_FALSE(layer->isTransmitterOffsetSet());
        EXPECT_FALSE(layer->isTransmitterRotationSet());
        expectMatrix(layer->getTransmitterTransform(), kIdentity);
        for (std::uint32_t n = 1; n <= 3; ++n) {
            const TrackerMap* map = layer->getTrackerMap(n);
            EXPECT_FALSE(map->sensorOffsetSet || map->sensorRotationSet || map->sensorTranslationSet) << n;
            expectMatrix(map->sensorTransform, kIdentity);
        }
    }

    const std::vector<float> kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    CLogH log;
    std::unique_ptr<CTraCommonH> layer;
    std::unique_ptr<kit::ConfigText> config;
};

TEST_F(TrackerOptions, EmptyBlockChangesNothing)
{
    EXPECT_TRUE(parse("Vantrel 3\n", true).empty());
    expectNoPlacement();
    EXPECT_TRUE(layer->caveCoordinates);
    EXPECT_EQ(layer->getTrackerMap(1)->outputId, 0u);
    EXPECT_EQ(layer->getTrackerMap(2)->outputId, 1u);
    EXPECT_EQ(layer->getTrackerMap(3)->outputId, 2u);
    EXPECT_EQ(layer->getTrackerMap(4), nullptr);
    EXPECT_EQ(layer->getTrackerMap(0), nullptr);
}

TEST_F(TrackerOptions, NoMapsOrNoBlock)
{
    CTraCommonH bare(&log);
    EXPECT_FALSE(bare.setUp(0));
    EXPECT_FALSE(bare.setTracker(1, 1, nullptr, nullptr, nullptr));
    kit::ConfigText text("Vantrel 3\ntransmitteroffset 1 2 3\n");
    kit::StdoutCapture capture;
    EXPECT_FALSE(bare.parseOptions(text.block()));
    EXPECT_FALSE(layer->parseOptions(nullptr));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"Dev: ERROR: CTraCommonH: lookup is Null.",
                                        "Dev: ERROR: CTraCommonH: config is empty."}));
    EXPECT_EQ(text.consumedCount(), 0u);
}

TEST(TrackerLayer, LogsItsLifeInItsOwnCategory)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.debugLevel = 3;
    settings.debugThreshold = 4;
    settings.debugCategory = 1;
    const CLogH deviceLog(settings);
    kit::StdoutCapture capture;
    { CTraCommonH layer(&deviceLog); }
    { CTraCommonH layer(nullptr); }
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Dev: DEBUG: CTraCommonH: \"constructor\" called.",
                                                         "Dev: DEBUG: CTraCommonH: \"destructor\" called."}));
}

TEST_F(TrackerOptions, TransmitterOffsetInEveryUnit)
{
    struct Case {
        const char* line;
        float x;
    };
    // The products are rounded to 32-bit floats: 12 inches are exactly one
    // foot.
    for (const Case& c : {Case{"transmitteroffset 12 0 0 inches", 1.0f}, Case{"transmitteroffset 1 0 0 m", 3.2808399f},
                          Case{"TransmitterOffset 1 0 0 Meters", 3.2808399f},
                          Case{"transmitteroffset 1 0 0 CM", 0.032808401f},
                          Case{"transmitteroffset 2ft 0 0", 2.0f}, Case{"TRANSMITTEROFFSET 1.5 0 0 feet", 1.5f}}) {
        layer = kit::makeTrackerLayer(log, 3, 1);
        EXPECT_TRUE(parse(std::string("Vantrel 3\n") + c.line + "\n", true).empty());
        EXPECT_EQ(layer->getTransmitterOffset().at(0, 3), c.x) << c.line;
        EXPECT_TRUE(layer->isTransmitterOffsetSet());
        EXPECT_EQ(config->consumedCount(), 1u);
    }
}

TEST_F(TrackerOptions, TransmitterOffsetComposesWithTheRotation)
{
    EXPECT_TRUE(parse("Vantrel 3\ntransmitteroffset 1 2 3\n", true).empty());
    expectMatrix(layer->getTransmitterOffset(), {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0});
    expectMatrix(layer->getTransmitterTransform(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1});

    // A zero offset is taken but leaves the earlier one in force; -x and an
    // empty word read as 0.
    EXPECT_TRUE(parse("Vantrel 3\ntransmitteroffset 0 -x 0\n", true).empty());
    EXPECT_EQ(config->consumedCount(), 1u);
    EXPECT_EQ(layer->getTransmitterTransform().at(3, 1), 2.0f);

    CTraCommonH fresh(&log);
    fresh.setUp(1);
    kit::ConfigText zero("Vantrel 1\ntransmitteroffset 0 0 0\n");
    EXPECT_TRUE(fresh.parseOptions(zero.block()));
    EXPECT_EQ(zero.consumedCount(), 1u);
    EXPECT_FALSE(fresh.isTransmitterOffsetSet());
}

TEST_F(TrackerOptions, RotationAndOffsetInEitherOrder)
{
    const std::vector<float> expected{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1};
    for (const char* text : {"Vantrel 3\ntransmitterrotation 0 0 1 90\ntransmitteroffset 1 0 0\n",
                             "Vantrel 3\ntransmitteroffset 1 0 0\ntransmitterrotation 0 0 1 90\n"}) {
        layer = kit::makeTrackerLayer(log, 3, 1);
        EXPECT_TRUE(parse(text, true).empty());
        expectMatrix(layer->getTransmitterTransform(), expected, 1e-6f);
        EXPECT_TRUE(layer->isTransmitterRotationSet());
        EXPECT_TRUE(layer->isTransmitterOffsetSet());
    }
}

TEST_F(TrackerOptions, RotationForms)
{
    EXPECT_TRUE(parse("Vantrel 3\n"
                      "transmitterrotation 0 0 0 45\n"
                      "sensorrotation 3 0 2 0 90\n"
                      "SensorRotationMatrix 2 1 2 3 4 5 6 7 8 9\n",
                      true)
                    .empty());
    // A zero axis gives the identity block, but the rotation counts as set.
    EXPECT_TRUE(layer->isTransmitterRotationSet());
    expectMatrix(layer->getTransmitterTransform(), kIdentity);
    // 90 degrees about y, on row vectors: x goes to -z.
    const TrackerMap* three = layer->getTrackerMap(3);
    EXPECT_TRUE(three->sensorRotationSet);
    expectMatrix(three->sensorRotation, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, 1e-6f);
    // Nine values are taken unchanged, not checked for being a rotation.
    const TrackerMap* two = layer->getTrackerMap(2);
    expectMatrix(two->sensorTransform, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1});
}

TEST_F(TrackerOptions, SensorPositions)
{
    EXPECT_TRUE(parse("Vantrel 3\n"
                      "sensorrotation 2 0 0 1 90\n"
                      "sensoroffset 2 12 24 -36 inches\n"
                      "sensortranslation 3 0.5 0 1 m\n"
                      "sensoroffset 3 0 0 0\n",
                      true)
                    .empty());
    const TrackerMap* two = layer->getTrackerMap(2);
    EXPECT_TRUE(two->sensorOffsetSet);
    expectMatrix(two->sensorTransform, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 2, -3, 1}, 1e-6f);
    const TrackerMap* three = layer->getTrackerMap(3);
    EXPECT_EQ(three->sensorTranslation[0], 0.5f * 3.2808399f);
    EXPECT_EQ(three->sensorTranslation[2], 3.2808399f);
    EXPECT_TRUE(three->sensorTranslationSet);
    // An all-zero sensor offset is stored like any other.
    EXPECT_TRUE(three->sensorOffsetSet);
    expectMatrix(three->sensorTransform, kIdentity);
    EXPECT_EQ(config->consumedCount(), 4u);
}

// One bad line at a time: its diagnostic, nothing applied, not consumed.
TEST_F(TrackerOptions, EachBadLineHasItsDiagnostic)
{
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"transmitteroffset 1 2", "Incomplete option line found for TransmitterOffset at line 7."},
        {"transmitteroffset 1 2 3 feet 5", "Too many args found for TransmitterOffset at line 7."},
        {"transmitteroffset 1 abc 3", "Invalid arg found for TransmitterOffset at line 7."},
        {"transmitteroffset 1 0 0 yards", "Invalid string found for TransmitterOffset at line 7."},
        {"transmitteroffset inf 0 0", "Invalid arg found for TransmitterOffset at line 7."},
        {"transmitteroffset 0 nan 0", "Invalid arg found for TransmitterOffset at line 7."},
        {"transmitteroffset 0 0 1e39", "Invalid arg found for TransmitterOffset at line 7."},
        {"transmitterrotation 0 0 1", "Incomplete option line found for TransmitterRotation at line 7."},
        {"transmitterrotation 0 0 1 90 0", "Too many args found for TransmitterRotation at line 7."},
        {"transmitterrotation 0 0 1 ninety", "Invalid arg found for TransmitterRotation at line 7."},
        {"transmitterrotationmatrix 1 0 0 0 1 0 0 0", "Incomplete option line found for TransmitterRotationMatrix at line 7."},
        {"transmitterrotationmatrix 1 0 0 0 1 0 0 0 one", "Invalid arg found for TransmitterRotationMatrix at line 7."},
        {"sensoroffset", "Incomplete option line found for SensorOffset at line 7."},
        {"sensoroffset 1", "Incomplete option line found for SensorOffset at line 7."},
        {"sensoroffset 9", "Invalid tracker ID found for SensorOffset at line 7."},
        {"sensoroffset 0 1 1 1", "Invalid tracker ID found for SensorOffset at line 7."},
        {"sensoroffset -1 1 1 1", "Invalid tracker ID found for SensorOffset at line 7."},
        {"sensoroffset 4 1 1 1", "Invalid tracker ID found for SensorOffset at line 7."},
        {"sensoroffset 2 1 1 1 cm 0", "Too many args found for SensorOffset at line 7."},
        {"sensoroffset 2 1 0 0 yards", "Invalid unit found for SensorOffset at line 7."},
        {"sensortranslation 3 1 1 1 yards", "Invalid unit found for SensorTranslation at line 7."},
        {"sensortranslation 3 1 x 1", "Invalid arg found for SensorTranslation at line 7."},
        {"sensorrotation 2 0 1 0", "Incomplete option line found for SensorRotation at line 7."},
        {"sensorrotation 2 0 1 0 ninety", "Invalid arg found for SensorRotation at line 7."},
        {"sensorrotationmatrix 2 1 0 0 0 1 0 0 0 1 0", "Too many args found for SensorRotationMatrix at line 7."},
        {"sensorrotationmatrix 5 1 0 0 0 1 0 0 0 1", "Invalid tracker ID found for SensorRotationMatrix at line 7."},
        {"order 3 2", "Can not change the order on input connector at line 7."},
        {"TrackerOrder", "Can not change the order on input connector at line 7."},
        {"cavecoord maybe", "Invalid string found for CAVECoord at line 7."},
        {"cavecoordinates", "Incomplete option line found for CAVECoord at line 7."},
        {"cavecoord on off", "Too many args found for CAVECoord at line 7."},
        {"calibration", "Incomplete option line found for Calibration at line 7."},
        {"calib lib.so 1 2 3 4 5 6 7 8 9 10 11", "Too many args found for Calibration at line 7."},
    };
    for (const Case& c : cases) {
        layer = kit::makeTrackerLayer(log, 3, 1);
        const auto lines = parse(std::string("Vantrel 3\n\n\n\n\n\n") + c.line + "\n", false);
        EXPECT_EQ(lines, std::vector<std::string>{std::string("Dev: ERROR: ") + c.message}) << c.line;
        EXPECT_EQ(config->consumedCount(), 0u) << c.line;
        expectNoPlacement();
        EXPECT_TRUE(layer->caveCoordinates);
        EXPECT_EQ(layer->getTrackerMap(3)->outputId, 2u);
        EXPECT_EQ(layer->getCalibLibrary(), nullptr);
    }
}

// After a failed line the placement lines are only checked: later good ones
// are neither applied nor consumed, their unit words and angles no longer
// read. The other keywords go on as usual, and every bad line is reported in
// order.
TEST_F(TrackerOptions, EveryBadLineIsReportedAndNothingIsAppliedAfterAFailure)
{
    const auto lines = parse("Vantrel 3\n"
                             "sensoroffset 9 0 0 1\n"
                             "transmitteroffset 1 2 3\n"
                             "transmitteroffset 1 2 3 yards\n"
                             "transmitterrotation 0 0 1 ninety\n"
                             "sensorrotation 2 zero 1 0 90\n"
                             "cavecoord off\n"
                             "sensortranslation 2 1 2\n"
                             "order 2 3\n"
                             "sensorrotationmatrix 3 1 0 0 0 1 0 0 0 1\n",
                             false);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Dev: ERROR: Invalid tracker ID found for SensorOffset at line 2.",
                         "Dev: ERROR: Invalid arg found for SensorRotation at line 6.",
                         "Dev: ERROR: Incomplete option line found for SensorTranslation at line 8.",
                         "Dev: ERROR: Can not change the order on input connector at line 9.",
                     }));
    expectNoPlacement();
    EXPECT_FALSE(layer->caveCoordinates);
    EXPECT_EQ(config->consumedCount(), 1u);
    EXPECT_EQ(config->line(5).consumed, 1);
}

TEST_F(TrackerOptions, CaveWords)
{
    EXPECT_TRUE(parse("Vantrel 3\ncavecoord OFF\n", true).empty());
    EXPECT_FALSE(layer->caveCoordinates);
    EXPECT_TRUE(parse("Vantrel 3\nCaveCoordinates yes\n", true).empty());
    EXPECT_TRUE(layer->caveCoordinates);
    EXPECT_TRUE(parse("Vantrel 3\ncavecoord no\ncavecoord on\n", true).empty());
    EXPECT_TRUE(layer->caveCoordinates);
    EXPECT_EQ(config->consumedCount(), 2u);

    // Without a fixed order the CAVE keywords are not this layer's.
    layer->fixedOrder = false;
    EXPECT_TRUE(parse("Vantrel 3\ncavecoord maybe\n", true).empty());
    EXPECT_EQ(config->consumedCount(), 0u);
}

TEST_F(TrackerOptions, OrderWithoutFixedOrder)
{
    CTraCommonH five(&log);
    five.fixedOrder = false;
    five.maxOutputTrackers = 2;
    five.setUp(5);
    for (std::uint32_t n = 1; n <= 5; ++n) {
        five.setTracker(n, n, nullptr, nullptr, nullptr);
    }
    const auto outputs = [&five] {
        std::vector<std::uint32_t> ids;
        for (std::uint32_t n = 1; n <= 5; ++n) {
            ids.push_back(five.getTrackerMap(n)->outputId);
        }
        return ids;
    };
    {
        // An entry outside 1..5 refuses the whole line.
        kit::ConfigText text("Vantrel 5\ntrackerorder 3 9 1\n");
        kit::StdoutCapture capture;
        EXPECT_FALSE(five.parseOptions(text.block()));
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"Dev: ERROR: Invalid tracker ID found for Order at line 2."});
        EXPECT_EQ(outputs(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    }
    {
        // Entries beyond maxOutputTrackers are not read, not even checked.
        kit::ConfigText text("Vantrel 5\ntrackerorder 3 1 5 77\n");
        kit::StdoutCapture capture;
        EXPECT_TRUE(five.parseOptions(text.block()));
        EXPECT_EQ(capture.text(), "");
        EXPECT_EQ(outputs(), (std::vector<std::uint32_t>{2, 0, 1, 0, 0}));
        EXPECT_EQ(text.consumedCount(), 1u);
    }
    {
        // A tracker listed twice keeps its later place.
        kit::ConfigText text("Vantrel 5\nunitorder 4 4\n");
        EXPECT_TRUE(five.parseOptions(text.block()));
        EXPECT_EQ(outputs(), (std::vector<std::uint32_t>{0, 0, 0, 2, 0}));
    }
    {
        kit::ConfigText text("Vantrel 5\norder\n");
        EXPECT_TRUE(five.parseOptions(text.block()));
        EXPECT_EQ(outputs(), (std::vector<std::uint32_t>{0, 0, 0, 0, 0}));
    }
}

TEST_F(TrackerOptions, CalibrationLine)
{
    // Any loadable library will do for the handle: the module itself.
    const std::string module = kit::modulePath();
    EXPECT_TRUE(parse("Vantrel 3\ncalibration " + module + " alpha 2 gamma\n", true).empty());
    CCalibH* first = layer->getCalibLibrary();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isLoaded());
    EXPECT_EQ(layer->getCalibLibraryName(), module);
    ASSERT_EQ(layer->getCalibArgCount(), 3u);
    EXPECT_STREQ(layer->getCalibArguments()[0], "alpha");
    EXPECT_STREQ(layer->getCalibArguments()[1], "2");
    EXPECT_STREQ(layer->getCalibArguments()[2], "gamma");

    // A line with more than ten library arguments leaves the library, its
    // name and its arguments as they were.
    EXPECT_EQ(parse("Vantrel 3\ncalib other 1 2 3 4 5 6 7 8 9 10 11\n", false),
              std::vector<std::string>{"Dev: ERROR: Too many args found for Calibration at line 2."});
    EXPECT_EQ(layer->getCalibLibrary(), first);
    EXPECT_EQ(layer->getCalibLibraryName(), module);
    EXPECT_EQ(layer->getCalibArgCount(), 3u);

    // So does a name too long for the layer: it is refused, never cut.
    const std::string longName(256, 'a');
    EXPECT_EQ(parse("Vantrel 3\ncalib " + longName + " x\n", false),
              std::vector<std::string>{"Dev: ERROR: Invalid arg found for Calibration at line 2."});
    EXPECT_EQ(layer->getCalibLibrary(), first);
    EXPECT_EQ(layer->getCalibLibraryName(), module);

    // A later line replaces library and arguments, also after a failed line.
    const auto lines = parse("Vantrel 3\nsensoroffset 7 0 0 0\nCalib missing-library\n", false);
    EXPECT_EQ(lines, (std::vector<std::string>{"Dev: ERROR: Invalid tracker ID found for SensorOffset at line 2.",
                                               "Dev: ERROR: CDynamicLibH: Can not load the library missing-library"}));
    EXPECT_EQ(config->line(1).consumed, 1);
    ASSERT_NE(layer->getCalibLibrary(), nullptr);
    EXPECT_FALSE(layer->getCalibLibrary()->isLoaded());
    EXPECT_STREQ(layer->getCalibLibraryName(), "missing-library");
    EXPECT_EQ(layer->getCalibArgCount(), 0u);

    // The longest name that fits is taken whole.
    const std::string longest(255, 'b');
    parse("Vantrel 3\ncalibration " + longest + "\n", true);
    EXPECT_EQ(layer->getCalibLibraryName(), longest);
}

TEST_F(TrackerOptions, UnknownKeywordsAreLeftAlone)
{
    EXPECT_TRUE(parse("Vantrel 3\nbaud 9600\nsensoroffsets 2 1 1 1\n", true).empty());
    EXPECT_EQ(config->consumedCount(), 0u);
}

}  // namespace
