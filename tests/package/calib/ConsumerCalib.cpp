// A calibration library built outside the project: it says what it was given
// and how many samples it saw, and moves every sample 1 foot along x.
#include <cstdio>

#include "vantrel/CalibLibrary.h"

namespace {

struct State {
    long samples;
};
State state = {0};

}  // namespace

VANTREL_CALIB_EXPORT CalibContext VANTREL_CALIB_CALL calib_init(char** arguments, std::int32_t count)
{
    std::printf("ConsumerCalib: calib_init with %d arguments:", static_cast<int>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::printf(" %s", arguments[i]);
    }
    std::printf("\n");
    std::fflush(stdout);
    state.samples = 0;
    return reinterpret_cast<CalibContext>(&state);
}

VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_evaluate(CalibContext context, TrackerPose* pose)
{
    ++reinterpret_cast<State*>(context)->samples;
    pose->x += 1.0f;
}

VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_exit(CalibContext context)
{
    std::printf("ConsumerCalib: calib_exit after %ld samples\n", reinterpret_cast<State*>(context)->samples);
    std::fflush(stdout);
}
