#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "calib/test/TestCalib.h"
#include "common/CLogH.h"
#include "kit/HostStorage.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"
#include "tracker/CCalibH.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kFullLibrary = VANTREL_CALIB_TEST_PATH;

CLogH debugLog()
{
    CLogH log(kit::plainLogSettings("Host"));
    log.debugLevel = 3;
    log.debugThreshold = 4;
    return log;
}

CLogH quietLog()
{
    return CLogH(kit::plainLogSettings("Host"));
}

// Keeps one of the test libraries loaded for the whole test, so that its
// record of the calls outlives every handle, and clears that record.
class TestLibrary {
public:
    explicit TestLibrary(const std::string& path) : library_(path)
    {
        const auto stateOf = reinterpret_cast<TestCalibStateFunction>(library_.symbol("testcalib_state"));
        state_ = stateOf != nullptr ? stateOf() : nullptr;
        if (state_ != nullptr) {
            std::memset(state_, 0, sizeof *state_);
        }
    }
    TestCalibState* state() const { return state_; }

private:
    kit::ModuleLibrary library_;
    TestCalibState* state_ = nullptr;
};

const std::string kCached = "Host: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.";
const std::string kLookUp = "Host: DEBUG: CDynamicLibH: \"getProcAddr\" called.";

bool samePose(const TrackerPose& a, const TrackerPose& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Calib, InitEvaluateExitInOrder)
{
    TestLibrary test(VANTREL_CALIB_TEST_PATH);
    TestCalibState* state = test.state();
    ASSERT_NE(state, nullptr);
    const CLogH log = debugLog();
    char first[] = "alpha";
    char second[] = "beta";
    const char* arguments[] = {first, second};
    kit::StdoutCapture capture;
    {
        CCalibH calib(kFullLibrary.c_str(), &log);
        ASSERT_TRUE(calib.callInit(arguments, 2));
        // The library works on the handle's own copies.
        std::strcpy(first, "gamma");
        EXPECT_EQ(calib.argumentCount(), 2);
        EXPECT_EQ(calib.context(), reinterpret_cast<CalibContext>(state));

        TrackerPose pose{1.5f, -2.0f, 3.25f, 10.0f, -20.0f, 30.0f};
        EXPECT_TRUE(calib.callEvaluate(&pose));
        EXPECT_TRUE(samePose(pose, TrackerPose{2.5f, -2.0f, 3.25f, 10.0f, -20.0f, 30.0f}));
        EXPECT_TRUE(calib.callEvaluate(&pose));
        EXPECT_EQ(pose.x, 3.5f);

        EXPECT_TRUE(calib.callExit());
        EXPECT_EQ(calib.argumentCount(), 0);
        EXPECT_EQ(calib.procCacheSize(), 4u);
    }
    EXPECT_EQ(state->initCalls, 1);
    EXPECT_EQ(state->evaluateCalls, 2);
    EXPECT_EQ(state->exitCalls, 1);
    EXPECT_EQ(state->wrongContexts, 0);
    EXPECT_EQ(state->argumentCount, 2);
    EXPECT_STREQ(state->arguments[0], "alpha");
    EXPECT_STREQ(state->arguments[1], "beta");
    // The copies were still there while calib_exit ran.
    EXPECT_STREQ(state->firstArgumentAtExit, "alpha");

    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CDynamicLibH: \"constructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"init\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"load\" called.",
                                   "Host: DEBUG: CDynamicLibH: " + kFullLibrary + " library loaded.",
                                   "Host: DEBUG: CCalibH: \"init\" called.",
                                   "Host: DEBUG: CCalibH: \"init\" called.",
                                   kCached,
                                   kLookUp,
                                   "Host: DEBUG: CCalibH: \"calib_init\" called.",
                                   kCached,
                                   kLookUp,
                                   kCached,
                                   "Host: DEBUG: CCalibH: \"exit\" called.",
                                   kCached,
                                   kLookUp,
                                   "Host: DEBUG: CCalibH: \"calib_exit\" called.",
                                   "Host: DEBUG: CCalibH: \"destructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"destructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"unload\" called.",
                               }));
}

TEST(Calib, LibraryNameWithoutArguments)
{
    TestLibrary test(VANTREL_CALIB_TEST_PATH);
    ASSERT_NE(test.state(), nullptr);
    const CLogH log = quietLog();
    CCalibH calib(kFullLibrary.c_str(), &log);
    EXPECT_TRUE(calib.callInit(nullptr, 0));
    EXPECT_EQ(test.state()->initCalls, 1);
    EXPECT_EQ(test.state()->argumentCount, 0);
    EXPECT_TRUE(calib.callExit());
    EXPECT_EQ(test.state()->exitCalls, 1);
}

TEST(Calib, LibraryWithoutExitFailsStopButFreesTheCopies)
{
    TestLibrary test(VANTREL_CALIB_NOEXIT_PATH);
    ASSERT_NE(test.state(), nullptr);
    const CLogH log = debugLog();
    CCalibH calib(VANTREL_CALIB_NOEXIT_PATH, &log);
    const char* arguments[] = {"one", "two", "three"};
    ASSERT_TRUE(calib.callInit(arguments, 3));
    kit::StdoutCapture capture;
    EXPECT_FALSE(calib.callExit());
    EXPECT_EQ(calib.argumentCount(), 0);
    EXPECT_FALSE(calib.callExit());
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CCalibH: \"exit\" called.",
                                   kCached,
                                   kLookUp,
                                   "Host: DEBUG: CCalibH: could not call \"calib_exit\".",
                                   "Host: DEBUG: CCalibH: \"exit\" called.",
                                   kCached,
                                   "Host: DEBUG: CCalibH: could not call \"calib_exit\".",
                               }));
}

TEST(Calib, LibraryWithoutEvaluateFailsEverySampleWithOneLookUp)
{
    TestLibrary test(VANTREL_CALIB_NOEVALUATE_PATH);
    ASSERT_NE(test.state(), nullptr);
    const CLogH log = debugLog();
    CCalibH calib(VANTREL_CALIB_NOEVALUATE_PATH, &log);
    ASSERT_TRUE(calib.callInit(nullptr, 0));
    const TrackerPose before{1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    TrackerPose pose = before;
    kit::StdoutCapture capture;
    EXPECT_FALSE(calib.callEvaluate(&pose));
    EXPECT_FALSE(calib.callEvaluate(&pose));
    EXPECT_EQ(capture.lines(), (Lines{kCached, kLookUp, kCached}));
    EXPECT_TRUE(samePose(pose, before));
    EXPECT_TRUE(calib.callExit());
}

TEST(Calib, UnloadableLibraryFailsInitAfterCopyingTheArguments)
{
    const CLogH log = debugLog();
    CCalibH calib("vantrel_missing_library", &log);
    const char* arguments[] = {"a", "b"};
    TrackerPose pose{};
    kit::StdoutCapture capture;
    EXPECT_FALSE(calib.callInit(arguments, 2));
    EXPECT_EQ(calib.argumentCount(), 2);
    EXPECT_FALSE(calib.callEvaluate(&pose));
    EXPECT_FALSE(calib.callExit());
    EXPECT_EQ(calib.argumentCount(), 0);
    const std::string notLoaded = "Host: ERROR: CDynamicLibH: Library has not been loaded.";
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CCalibH: \"init\" called.",
                                   kCached,
                                   notLoaded,
                                   "Host: DEBUG: CCalibH: could not call \"calib_init\".",
                                   kCached,
                                   notLoaded,
                                   "Host: DEBUG: CCalibH: \"exit\" called.",
                                   kCached,
                                   notLoaded,
                                   "Host: DEBUG: CCalibH: could not call \"calib_exit\".",
                               }));
}

TEST(Calib, AtMostTenArgumentsAndARepeatedInitReplacesTheCopies)
{
    TestLibrary test(VANTREL_CALIB_TEST_PATH);
    ASSERT_NE(test.state(), nullptr);
    const CLogH log = quietLog();
    CCalibH calib(kFullLibrary.c_str(), &log);
    const char* first[] = {"old"};
    ASSERT_TRUE(calib.callInit(first, 1));
    const char* many[] = {"a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10", "a11"};
    kit::StdoutCapture capture;
    EXPECT_TRUE(calib.callInit(many, 12));
    EXPECT_EQ(capture.lines(),
              (Lines{"Host: WARNING: CCalibH: More than 10 library arguments; only the first 10 are passed."}));
    EXPECT_EQ(calib.argumentCount(), 10);
    EXPECT_EQ(test.state()->argumentCount, 10);
    EXPECT_STREQ(test.state()->arguments[0], "a0");
    EXPECT_STREQ(test.state()->arguments[9], "a9");
    // A negative count passes nothing; a handle destroyed without
    // callExit frees its copies itself.
    EXPECT_TRUE(calib.callInit(many, -1));
    EXPECT_EQ(test.state()->argumentCount, 0);
    EXPECT_TRUE(calib.callInit(many, 2));
    EXPECT_EQ(calib.argumentCount(), 2);
}

TEST(Calib, HandleWithoutLoggerLogsAsCCalibH)
{
    kit::StdoutCapture capture;
    {
        CCalibH calib("vantrel_missing_library", nullptr);
        EXPECT_FALSE(calib.callInit(nullptr, 0));
    }
    const Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    // The load failure is reported while the base is being built.
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(".* CDynamicLibH\\[[0-9]+\\]: ERROR: CDynamicLibH: Can not load the library "
                             "vantrel_missing_library")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(".* CCalibH\\[[0-9]+\\]: ERROR: CDynamicLibH: Library has not been loaded.")))
        << lines[1];
}

}  // namespace
