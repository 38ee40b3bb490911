#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "common/CLogH.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "kit/TempFile.h"
#include "tracker/CCalibH.h"

namespace {

using Lines = std::vector<std::string>;

// A 3 x 2 x 2 grid with unit spacing from the origin. Every node's true
// position is its measured one shifted by (0.5, -0.25, 0.1), but node
// (1, 1, 1), whose true x lies 0.4 further.
std::string distortionTable()
{
    std::ostringstream text;
    text << "# distortion of the test room\n"
         << "grid 3 2 2\n"
         << "origin 0 0 0\n"
         << "spacing 1 1 1   # feet\n\n";
    for (int k = 0; k < 2; ++k) {
        for (int j = 0; j < 2; ++j) {
            for (int i = 0; i < 3; ++i) {
                const double extra = (i == 1 && j == 1 && k == 1) ? 0.4 : 0.0;
                text << i << ' ' << j << ' ' << k << ' ' << i + 0.5 + extra << ' ' << j - 0.25 << ' ' << k + 0.1
                     << '\n';
            }
        }
    }
    return text.str();
}

// Runs a pose through the grid library loaded with the given table text.
class GridLibrary {
public:
    explicit GridLibrary(const std::string& table) : file_(table)
    {
        kit::StdoutCapture capture;
        const char* arguments[] = {file_.path().c_str()};
        initialised_ = calib_.callInit(arguments, 1);
        lines_ = capture.lines();
    }
    ~GridLibrary() { calib_.callExit(); }

    bool initialised() const { return initialised_; }
    const Lines& lines() const { return lines_; }
    const std::string& path() const { return file_.path(); }
    TrackerPose evaluate(TrackerPose pose)
    {
        EXPECT_TRUE(calib_.callEvaluate(&pose));
        return pose;
    }

private:
    kit::TempFile file_;
    CLogH log_{kit::plainLogSettings("Host")};
    CCalibH calib_{VANTREL_CALIB_GRID_PATH, &log_};
    bool initialised_ = false;
    Lines lines_;
};

void expectPosition(const TrackerPose& pose, float x, float y, float z)
{
    EXPECT_NEAR(pose.x, x, 1e-5);
    EXPECT_NEAR(pose.y, y, 1e-5);
    EXPECT_NEAR(pose.z, z, 1e-5);
}

bool samePose(const TrackerPose& a, const TrackerPose& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(GridCalib, CorrectsPositionsInsideTheGrid)
{
    GridLibrary grid(distortionTable());
    ASSERT_TRUE(grid.initialised());
    EXPECT_EQ(grid.lines(), (Lines{"GridCalib: " + grid.path() + ": 3 x 2 x 2 grid loaded."}));

    // Centre of the first cell: the displaced node weighs 1/8.
    const TrackerPose centre = grid.evaluate({0.5f, 0.5f, 0.5f, 10.0f, -20.0f, 30.0f});
    expectPosition(centre, 1.05f, 0.25f, 0.6f);
    EXPECT_EQ(centre.azimuth, 10.0f);
    EXPECT_EQ(centre.elevation, -20.0f);
    EXPECT_EQ(centre.roll, 30.0f);
    // In the second cell the displaced node weighs 0.75 * 0.5 * 0.5.
    expectPosition(grid.evaluate({1.25f, 0.5f, 0.5f, 0, 0, 0}), 1.825f, 0.25f, 0.6f);
    // On a node, and on the far corner of the grid.
    expectPosition(grid.evaluate({1.0f, 1.0f, 1.0f, 0, 0, 0}), 1.9f, 0.75f, 1.1f);
    expectPosition(grid.evaluate({2.0f, 1.0f, 1.0f, 0, 0, 0}), 2.5f, 0.75f, 1.1f);
    expectPosition(grid.evaluate({0.0f, 0.0f, 0.0f, 0, 0, 0}), 0.5f, -0.25f, 0.1f);
}

TEST(GridCalib, LeavesPositionsOutsideTheGridUnchanged)
{
    GridLibrary grid(distortionTable());
    ASSERT_TRUE(grid.initialised());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const TrackerPose& outside : {TrackerPose{-0.1f, 0.5f, 0.5f, 1, 2, 3}, TrackerPose{2.01f, 0.5f, 0.5f, 1, 2, 3},
                                       TrackerPose{0.5f, 1.01f, 0.5f, 1, 2, 3}, TrackerPose{0.5f, 0.5f, -2.0f, 1, 2, 3},
                                       TrackerPose{nan, 0.5f, 0.5f, 1, 2, 3}}) {
        EXPECT_TRUE(samePose(grid.evaluate(outside), outside)) << outside.x << ' ' << outside.y << ' ' << outside.z;
    }
}

struct BadTable {
    const char* text;
    const char* problem;  // what follows the file name in the message
};

TEST(GridCalib, BadTablesAreReportedAndLeavePosesUnchanged)
{
    const std::string header = "grid 2 2 2\norigin 0 0 0\nspacing 1 1 1\n";
    const std::string sevenNodes =
        "0 0 0 0 0 0\n1 0 0 1 0 0\n0 1 0 0 1 0\n1 1 0 1 1 0\n0 0 1 0 0 1\n1 0 1 1 0 1\n0 1 1 0 1 1\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {header + sevenNodes, ", line 11 (end of table): node 1 1 1 is missing."},
        {header + "0 0 0 0 abc 0\n", ", line 4: \"abc\" is not a number."},
        {"grid 2 2 2\r\norigin 0 0 0\r\nspacing 1 1 1\r\n0 0 0 0 1,5 0\r\n", ", line 4: \"1,5\" is not a number."},
        {header + "0 0 2 0 0 0\n", ", line 4: node index \"2\" along z is not a whole number from 0 to 1."},
        {header + "0 0 0 0 0 0\n# again\n0 0 0 1 1 1\n", ", line 6: node 0 0 0 given twice (first at line 4)."},
        {header + "0 0 0 0 0\n", ", line 4: a node needs six values: i j k and the true x y z."},
        {"grid 2 2 2\n0 0 0 0 0 0\n", ", line 2: a node before the grid, origin and spacing lines."},
        {"grid 1 2 2\n", ", line 1: the grid size along x must be a whole number from 2 to 1000."},
        {"grid 2 2 2\nspacing 1 0 1\n", ", line 2: the spacing along y must be positive."},
        {"grid 2 2 2\ngrid 2 2 2\n", ", line 2: \"grid\" given twice."},
        {"origin 0 0\n", ", line 1: \"origin\" needs three values."},
        {"scale 2\n", ", line 1: a node before the grid, origin and spacing lines."},
        {"# nothing\n", ", line 2 (end of table): no grid nodes in the table."},
        {header + sevenNodes + "1 1 1 1 1 1\norigin 1 1 1\n", ", line 12: \"origin\" after the first node."},
    };
    for (const auto& bad : cases) {
        GridLibrary grid(bad.first);
        EXPECT_TRUE(grid.initialised());
        EXPECT_EQ(grid.lines(), (Lines{"GridCalib: " + grid.path() + bad.second,
                                       "GridCalib: table not used; poses pass unchanged."}));
        const TrackerPose inside{0.5f, 0.5f, 0.5f, 1, 2, 3};
        EXPECT_TRUE(samePose(grid.evaluate(inside), inside));
    }
}

TEST(GridCalib, MissingTableFile)
{
    const CLogH log(kit::plainLogSettings("Host"));
    CCalibH calib(VANTREL_CALIB_GRID_PATH, &log);
    const char* arguments[] = {"vantrel-no-such-table.txt"};
    kit::StdoutCapture capture;
    EXPECT_TRUE(calib.callInit(arguments, 1));
    EXPECT_TRUE(calib.callExit());
    EXPECT_TRUE(calib.callInit(nullptr, 0));
    TrackerPose pose{0.5f, 0.5f, 0.5f, 0, 0, 0};
    EXPECT_TRUE(calib.callEvaluate(&pose));
    EXPECT_EQ(pose.x, 0.5f);
    EXPECT_TRUE(calib.callExit());
    EXPECT_EQ(capture.lines(), (Lines{
                                   "GridCalib: vantrel-no-such-table.txt: can not open the table file.",
                                   "GridCalib: table not used; poses pass unchanged.",
                                   "GridCalib: no table file given; poses pass unchanged.",
                               }));
}

}  // namespace
