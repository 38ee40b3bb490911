#include "calib/test/TestCalib.h"

#include <cstring>

namespace {

TestCalibState state;
char** initArguments = nullptr;
std::int32_t initCount = 0;

void copyText(char* field, std::size_t size, const char* text)
{
    std::strncpy(field, text == nullptr ? "(null)" : text, size - 1);
    field[size - 1] = '\0';
}

void checkContext(CalibContext context)
{
    if (context != reinterpret_cast<CalibContext>(&state)) {
        ++state.wrongContexts;
    }
}

}  // namespace

// The state; a test clears it before it uses the library.
VANTREL_CALIB_EXPORT TestCalibState* VANTREL_CALIB_CALL testcalib_state()
{
    return &state;
}

VANTREL_CALIB_EXPORT CalibContext VANTREL_CALIB_CALL calib_init(char** arguments, std::int32_t count)
{
    ++state.initCalls;
    state.argumentCount = count;
    for (std::int32_t i = 0; i < count && i < 12; ++i) {
        copyText(state.arguments[i], sizeof state.arguments[i], arguments[i]);
    }
    initArguments = arguments;
    initCount = count;
    return reinterpret_cast<CalibContext>(&state);
}

#if !defined(TESTCALIB_WITHOUT_EVALUATE)
VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_evaluate(CalibContext context, TrackerPose* pose)
{
    checkContext(context);
    ++state.evaluateCalls;
    pose->x += 1.0f;
}
#endif

#if !defined(TESTCALIB_WITHOUT_EXIT)
VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_exit(CalibContext context)
{
    checkContext(context);
    ++state.exitCalls;
    // The arguments must still be readable here.
    if (initArguments != nullptr && initCount > 0) {
        copyText(state.firstArgumentAtExit, sizeof state.firstArgumentAtExit, initArguments[0]);
    }
}
#endif
