#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/CLogH.h"
#include "controller/CConCommonH.h"
#include "kit/ControllerLayer.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

using kit::makeMouseLayer;
using kit::parseControllerOptions;
using Lines = std::vector<std::string>;

std::vector<std::uint32_t> buttonOrder(const ControllerMap& map, std::uint32_t entries)
{
    return std::vector<std::uint32_t>(map.buttonOrder, map.buttonOrder + entries);
}

std::vector<float> scaleOf(const ControllerMap& map, std::uint32_t valuator)
{
    const float* scale = map.valuatorScale[valuator - 1];
    return std::vector<float>(scale, scale + 4);
}

TEST(ControllerSetUp, MapsFollowTheDeviceCallingOrder)
{
    const CLogH deviceLog(kit::plainLogSettings("Dev"));
    CConCommonH layer(&deviceLog);
    EXPECT_FALSE(layer.setUp(0, true));
    EXPECT_EQ(layer.controllerMap(1), nullptr);
    EXPECT_FALSE(layer.setController(1, 1, 0, 3));  // no maps yet

    ASSERT_TRUE(layer.setUp(3, true));
    EXPECT_EQ(layer.getControllerCount(), 3u);
    const ControllerMap& plain = *layer.controllerMap(1);
    EXPECT_EQ(plain.outputId, 0u);
    EXPECT_EQ(plain.buttonCount, 0u);
    EXPECT_EQ(buttonOrder(plain, 32), std::vector<std::uint32_t>(32, 0));
    EXPECT_EQ(scaleOf(plain, 32), (std::vector<float>{0, 0, 1, 0}));
    EXPECT_FALSE(plain.emulation);

    EXPECT_TRUE(layer.setController(2, 1, 2, 3));
    const ControllerMap& mouse = *layer.controllerMap(2);
    EXPECT_EQ(mouse.outputId, 1u);
    EXPECT_EQ(mouse.valuatorCount, 2u);
    EXPECT_EQ(buttonOrder(mouse, 4), (std::vector<std::uint32_t>{1, 2, 3, 0}));
    EXPECT_EQ(mouse.valuatorOrder[1], 2u);
    EXPECT_EQ(mouse.valuatorOrder[2], 0u);

    // Real controller numbers start at 1; the tables have 32 entries.
    EXPECT_FALSE(layer.setController(4, 1, 0, 3));
    EXPECT_FALSE(layer.setController(0, 1, 0, 3));
    EXPECT_FALSE(layer.setController(1, 1, 33, 0));
    EXPECT_FALSE(layer.setController(1, 1, 0, 33));
    EXPECT_EQ(layer.controllerMap(1)->outputId, 0u);
    const float values[6] = {};
    const std::uint32_t valuators[6] = {};
    EXPECT_FALSE(layer.setTrackerEmulation(0, 0, values, valuators, 0));
    EXPECT_FALSE(layer.setTrackerEmulation(4, 0, values, valuators, 0));

    // A repeated set-up discards the earlier maps, emulations included.
    EXPECT_TRUE(layer.setTrackerEmulation(2, 0, values, valuators, 1));
    ASSERT_TRUE(layer.setUp(1, false));
    EXPECT_EQ(layer.getControllerCount(), 1u);
    EXPECT_FALSE(layer.getLimitIdsToCounts());
    EXPECT_EQ(layer.controllerMap(1)->outputId, 0u);
    EXPECT_FALSE(layer.controllerMap(1)->emulation);
    EXPECT_TRUE(layer.clearControllers());
    EXPECT_FALSE(layer.clearControllers());
    EXPECT_EQ(layer.getControllerCount(), 0u);
}

TEST(ControllerSetUp, LoggerIsACopyOrANamedDefault)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.debugLevel = 3;
    settings.debugThreshold = 4;
    {
        const CLogH deviceLog(settings);
        kit::StdoutCapture capture;
        { CConCommonH layer(&deviceLog); }
        EXPECT_EQ(capture.lines(), (Lines{"Dev: DEBUG: CConCommonH: \"constructor\" called.",
                                          "Dev: DEBUG: CConCommonH: \"destructor\" called."}));
    }
    auto layer = std::make_unique<CConCommonH>();
    kit::StdoutCapture capture;
    layer->parseOptions(nullptr);  // no maps: the first check speaks
    layer->setUp(1, true);
    layer->parseOptions(nullptr);
    const Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("CConCommonH["), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("]: ERROR: CConCommonH: lookup Null"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("]: ERROR: CConCommonH: config empty"), std::string::npos) << lines[1];
}

TEST(ControllerOptions, EmptyBlockAndForeignLinesChangeNothing)
{
    auto layer = makeMouseLayer(1, {1});
    const auto run = parseControllerOptions(*layer, "baud 9600\nsensoroffset 1 0 0 0\n");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, Lines{});
    EXPECT_EQ(run.consumed, 0u);
    EXPECT_EQ(buttonOrder(*layer->controllerMap(1), 3), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(ControllerOptions, ButtonOrderListsTheRealButtonOfEachOutput)
{
    {
        // Real 3 of controller 2 feeds output 1, real 1 output 2, real 2 output 3.
        auto layer = makeMouseLayer(2, {1, 2});
        const auto run = parseControllerOptions(*layer, "BUTTONORDER 2 3 1 2\n");
        EXPECT_TRUE(run.result);
        EXPECT_EQ(run.consumed, 1u);
        EXPECT_EQ(buttonOrder(*layer->controllerMap(2), 4), (std::vector<std::uint32_t>{2, 3, 1, 0}));
        EXPECT_EQ(layer->controllerMap(2)->buttonCount, 3u);
        EXPECT_EQ(buttonOrder(*layer->controllerMap(1), 3), (std::vector<std::uint32_t>{1, 2, 3}));
    }
    {
        auto layer = makeMouseLayer(1, {1});
        EXPECT_TRUE(parseControllerOptions(*layer, "buttonorder 1 2 1\n").result);
        EXPECT_EQ(buttonOrder(*layer->controllerMap(1), 3), (std::vector<std::uint32_t>{2, 1, 0}));
        EXPECT_EQ(layer->controllerMap(1)->buttonCount, 2u);
    }
    {
        // A numeric 0 leaves its output unassigned; the count is the highest
        // real button named.
        auto layer = makeMouseLayer(1, {1});
        EXPECT_TRUE(parseControllerOptions(*layer, "buttonorder 1 0 1\n").result);
        EXPECT_EQ(buttonOrder(*layer->controllerMap(1), 3), (std::vector<std::uint32_t>{2, 0, 0}));
        EXPECT_EQ(layer->controllerMap(1)->buttonCount, 1u);
    }
    {
        auto layer = makeMouseLayer(1, {1});
        EXPECT_TRUE(parseControllerOptions(*layer, "buttonorder 1\n").result);
        EXPECT_EQ(buttonOrder(*layer->controllerMap(1), 3), (std::vector<std::uint32_t>{0, 0, 0}));
        EXPECT_EQ(layer->controllerMap(1)->buttonCount, 0u);
    }
    {
        // Unlimited IDs reach up to 32 whatever the current count; 33 is refused.
        const CLogH deviceLog(kit::plainLogSettings("Dev"));
        CConCommonH layer(&deviceLog);
        layer.setUp(1, false);
        layer.setController(1, 1, 0, 3);
        const auto run = parseControllerOptions(layer, "buttonorder 1 32 0x5\nbuttonorder 1 33\n");
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.output, Lines{"Dev: ERROR: Invalid ID found in Order option at line 3."});
        EXPECT_EQ(layer.controllerMap(1)->buttonCount, 32u);
        EXPECT_EQ(layer.controllerMap(1)->buttonOrder[31], 1u);
        EXPECT_EQ(layer.controllerMap(1)->buttonOrder[4], 2u);
    }
}

TEST(ControllerOptions, BadOrderLinesAreReportedAndNotApplied)
{
    auto layer = makeMouseLayer(2, {2});
    const auto run = parseControllerOptions(*layer,
                                            "buttonorder\n"          // 2
                                            "buttonorder 3 1\n"      // 3
                                            "buttonorder 0 1\n"      // 4
                                            "buttonorder 2 4\n"      // 5
                                            "buttonorder 2 -1\n"     // 6
                                            "buttonorder 2 2 x\n"    // 7
                                            "buttonorder 2 1 2 1\n"  // 8
                                            "buttonorder 2 x 1 1\n"  // 9: the word comes first
                                            "buttonorder 2 4 4\n"    // 10: the duplicate before the limit
                                            "valuatororder 2 1\n"    // 11: no valuators
                                            "ValuatorOrder 2\n");    // 12: good
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, (Lines{
                              "Dev: ERROR: Incomplete option line found for Order at line 2.",
                              "Dev: ERROR: Invalid controller ID found for Order option at line 3.",
                              "Dev: ERROR: Invalid controller ID found for Order option at line 4.",
                              "Dev: ERROR: Invalid ID found in Order option at line 5.",
                              "Dev: ERROR: Invalid ID found in Order option at line 6.",
                              "Dev: ERROR: Invalid arg found for Order at line 7.",
                              "Dev: ERROR: Same ID found more than once in Order option at line 8.",
                              "Dev: ERROR: Invalid arg found for Order at line 9.",
                              "Dev: ERROR: Same ID found more than once in Order option at line 10.",
                              "Dev: ERROR: Invalid ID found in Order option at line 11.",
                          }));
    EXPECT_EQ(run.consumed, 1u);
    const ControllerMap& mouse = *layer->controllerMap(2);
    EXPECT_EQ(buttonOrder(mouse, 4), (std::vector<std::uint32_t>{1, 2, 3, 0}));
    EXPECT_EQ(mouse.buttonCount, 3u);
}

TEST(ControllerOptions, ValuatorOrderWorksOnTheValuatorSide)
{
    auto layer = makeMouseLayer(1, {});
    layer->setController(1, 1, 4, 2);
    const auto run = parseControllerOptions(*layer, "valuatororder 1 4 0 3\nvaluatororder 1 5\n");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, Lines{"Dev: ERROR: Invalid ID found in Order option at line 3."});
    const ControllerMap& map = *layer->controllerMap(1);
    EXPECT_EQ(map.valuatorCount, 4u);
    EXPECT_EQ(std::vector<std::uint32_t>(map.valuatorOrder, map.valuatorOrder + 5),
              (std::vector<std::uint32_t>{0, 0, 3, 1, 0}));
    EXPECT_EQ(buttonOrder(map, 3), (std::vector<std::uint32_t>{1, 2, 0}));
}

TEST(ControllerOptions, ValuatorScaleForms)
{
    auto layer = makeMouseLayer(2, {1});
    layer->setController(2, 2, 3, 0);
    const auto run = parseControllerOptions(*layer,
                                            "valuatorscale 1 0 aLL 99\n"         // 2: "all" ends the list
                                            "valuatorscale 1 [0,0,0,0] all\n"    // 3
                                            "valuatorscale 1 gain all\n"         // 4
                                            "valuatorscale 1 2.5 1\n"            // 5: no valuators
                                            "valuatorscale 2 [0.5,0,2,-1] 3 1\n" // 6
                                            "valuatorscale 2 [7] 2\n"            // 7: missing fields are 0
                                            "valuatorscale 2 1.5 4\n"            // 8
                                            "valuatorscale 2 3\n"                // 9
                                            "valuatorscale 3 3 all\n"            // 10
                                            "valuatorscale\n"                    // 11
                                            "valuatorscale 2 -2 2 x\n");         // 12: x reads as valuator 0
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, (Lines{
                              "Dev: ERROR: Incomplete option line found for ValuatorScale at line 3.",
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 4.",
                              "Dev: ERROR: Invalid valuator ID found for ValuatorScale option at line 5.",
                              "Dev: ERROR: Invalid valuator ID found for ValuatorScale option at line 8.",
                              "Dev: ERROR: Incomplete option line found for ValuatorScale at line 9.",
                              "Dev: ERROR: Invalid controller ID found for ValuatorScale option at line 10.",
                              "Dev: ERROR: Incomplete option line found for ValuatorScale at line 11.",
                              "Dev: ERROR: Invalid valuator ID found for ValuatorScale option at line 12.",
                          }));
    EXPECT_EQ(run.consumed, 3u);
    // A numeric 0 is a valid gain: every slot of the mouse is cleared.
    for (std::uint32_t v = 1; v <= 32; ++v) {
        EXPECT_EQ(scaleOf(*layer->controllerMap(1), v), (std::vector<float>{0, 0, 0, 0})) << v;
    }
    const ControllerMap& stick = *layer->controllerMap(2);
    EXPECT_EQ(scaleOf(stick, 1), (std::vector<float>{0.5f, 0, 2, -1}));
    EXPECT_EQ(scaleOf(stick, 2), (std::vector<float>{7, 0, 0, 0}));
    EXPECT_EQ(scaleOf(stick, 3), (std::vector<float>{0.5f, 0, 2, -1}));
    EXPECT_EQ(scaleOf(stick, 4), (std::vector<float>{0, 0, 1, 0}));
}

TEST(ControllerOptions, ValuatorScalesWithoutAFloatAreRefused)
{
    auto layer = makeMouseLayer(2, {1});
    layer->setController(2, 2, 3, 0);
    const auto run = parseControllerOptions(*layer,
                                            "valuatorscale 2 1e39 all\n"          // 2
                                            "valuatorscale 2 -1e39 1\n"           // 3
                                            "valuatorscale 2 inf 1\n"             // 4
                                            "valuatorscale 2 nan 1\n"             // 5
                                            "valuatorscale 2 [1,0,1e39,0] 1\n"    // 6
                                            "valuatorscale 2 3e38 2\n");          // 7: still a float
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, (Lines{
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 2.",
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 3.",
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 4.",
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 5.",
                              "Dev: ERROR: Invalid arg found for ValuatorScale at line 6.",
                          }));
    EXPECT_EQ(run.consumed, 1u);
    const ControllerMap& stick = *layer->controllerMap(2);
    EXPECT_EQ(scaleOf(stick, 1), (std::vector<float>{0, 0, 1, 0}));
    EXPECT_EQ(scaleOf(stick, 2), (std::vector<float>{0, 0, 3e38f, 0}));
}

TEST(ControllerOptions, EmulateTrackerForms)
{
    auto layer = makeMouseLayer(3, {1, 2});
    layer->setController(3, 3, 6, 2);
    const auto run = parseControllerOptions(*layer,
                                            "emulatetracker 1 [1,2,3,0,0,0] 0 0 0 0 0 0\n"    // 2
                                            "emulatetracker 2 [1,2,3,0,0,0] 0 0 0 0 0 0 4\n"  // 3
                                            "emulatetracker 2 none 0 0 0 0 0 0\n"             // 4
                                            "emulatetracker 3 [1,2,3,4,5,6] 6 5 4 3 2 0 2\n"  // 5
                                            "emulatetracker 1 [1] 0 0 0 0 0\n"                // 6
                                            "emulatetracker 1 [1] 0 0 0 0 0 0 1 1\n"          // 7
                                            "emulatetracker 1 [1] 1 0 0 0 0 0\n"              // 8
                                            "emulatetracker 3 [1] 0 0 0 0 0 7\n"              // 9
                                            "emulatetracker 4 [1] 0 0 0 0 0 0\n"              // 10
                                            "emulatetracker 1\n"                              // 11
                                            "emulatetracker\n"                                // 12
                                            "emulatetracker 2 [9] 0 0 0 0 0 0 0\n"            // 13: button 0
                                            "emulatetracker 3 [9] 0 0 0 0 0 0 3\n");          // 14
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output,
              (Lines{
                  "Dev: ERROR: Invalid button ID found for EmulateTracker option at line 3. Ignored.",
                  "Dev: ERROR: Incomplete option line found for EmulateTracker at line 6.",
                  "Dev: ERROR: Too many args found for EmulateTracker at line 7.",
                  "Dev: ERROR: Invalid valuator ID found for EmulateTracker option at line 8.",
                  "Dev: ERROR: Invalid valuator ID found for EmulateTracker option at line 9.",
                  "Dev: ERROR: Invalid controller ID found for EmulateTracker option at line 10.",
                  "Dev: ERROR: Incomplete option line found for EmulateTracker at line 11.",
                  "Dev: ERROR: Incomplete option line found for EmulateTracker at line 12.",
                  "Dev: ERROR: Invalid button ID found for EmulateTracker option at line 13. Ignored.",
                  "Dev: ERROR: Invalid button ID found for EmulateTracker option at line 14. Ignored.",
              }));
    EXPECT_EQ(run.consumed, 3u);

    const TrackerEmulation& first = *layer->controllerMap(1)->emulation;
    EXPECT_EQ(first.trackerIndex, 0u);
    EXPECT_EQ(std::vector<float>(first.initialValues, first.initialValues + 6),
              (std::vector<float>{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(std::vector<std::uint32_t>(first.valuatorAssign, first.valuatorAssign + 6),
              std::vector<std::uint32_t>(6, 0));
    EXPECT_EQ(first.resetButton, 0u);

    // A word instead of the bracketed list leaves all six values at 0.
    const TrackerEmulation& second = *layer->controllerMap(2)->emulation;
    EXPECT_EQ(std::vector<float>(second.initialValues, second.initialValues + 6), std::vector<float>(6, 0));

    const TrackerEmulation& third = *layer->controllerMap(3)->emulation;
    EXPECT_EQ(std::vector<float>(third.initialValues, third.initialValues + 6),
              (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(std::vector<std::uint32_t>(third.valuatorAssign, third.valuatorAssign + 6),
              (std::vector<std::uint32_t>{6, 5, 4, 3, 2, 0}));
    EXPECT_EQ(third.resetButton, 2u);
}

TEST(ControllerOptions, ControllerOrderIsLeftToOthersWhenTheOrderIsFixed)
{
    auto layer = makeMouseLayer(3, {2, 3});
    const auto fixed = parseControllerOptions(*layer, "controllerorder 3 2\nunitorder 1\nOrder 2\n");
    EXPECT_TRUE(fixed.result);
    EXPECT_EQ(fixed.output, Lines{});
    EXPECT_EQ(fixed.consumed, 0u);
    EXPECT_EQ(layer->controllerMap(3)->outputId, 2u);

    layer->fixedOrder = false;
    // Only the first maxOutputControllers (2) entries count; a controller
    // listed twice keeps its later position.
    const auto run = parseControllerOptions(*layer,
                                            "controllerorder 3 2 junk\n"  // 2
                                            "order 3 4\n"                 // 3
                                            "unitorder 1 1\n");           // 4
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output, Lines{"Dev: ERROR: Invalid controller ID found for Order option at line 3."});
    EXPECT_EQ(run.consumed, 2u);
    EXPECT_EQ(layer->controllerMap(1)->outputId, 2u);
    EXPECT_EQ(layer->controllerMap(2)->outputId, 0u);
    EXPECT_EQ(layer->controllerMap(3)->outputId, 0u);
}

}  // namespace
