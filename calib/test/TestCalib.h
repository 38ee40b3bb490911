#pragma once
// A calibration library for the tests: calib_evaluate adds 1 to x, and every
// call is recorded in a state that the tests read through testcalib_state.
// calib_init returns a pointer to that state as its context.
#include <cstdint>

#include "vantrel/CalibLibrary.h"

struct TestCalibState {
    std::int32_t initCalls;
    std::int32_t evaluateCalls;
    std::int32_t exitCalls;
    // Calls whose context was not the one calib_init returned.
    std::int32_t wrongContexts;
    std::int32_t argumentCount;
    char arguments[12][32];        // the arguments as calib_init saw them
    char firstArgumentAtExit[32];  // argument 0 read again inside calib_exit
};

using TestCalibStateFunction = TestCalibState*(VANTREL_CALIB_CALL*)();
