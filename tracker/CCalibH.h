#pragma once
// Handle for a calibration library (vantrel/CalibLibrary.h): loads it by name
// and calls its three entry points, keeping its own copies of the library's
// argument strings and the context that calib_init returns.
#include <cstdint>

#include "common/CDynamicLibH.h"
#include "vantrel/CalibLibrary.h"
#include "vantrel/TrackerPose.h"

class CCalibH : public CDynamicLibH {
public:
    // Most arguments a library receives.
    static constexpr std::int32_t kMaxArguments = 10;

    // Loads the library (see CDynamicLibH). Without a logger the handle logs
    // as "CCalibH"; a given logger is copied and keeps its name.
    CCalibH(const char* libraryName, const CLogH* log);
    ~CCalibH() override;

    // Copies the first count strings (at most ten) and calls calib_init with
    // the copies; false when the entry point is missing.
    bool callInit(const char* const* arguments, std::int32_t count);
    // Calls calib_evaluate on the pose; false when the entry point is missing.
    bool callEvaluate(TrackerPose* pose);
    // Calls calib_exit, then frees the argument copies; false when the entry
    // point is missing (the copies are freed all the same).
    bool callExit();

    CalibContext context() const { return calibContext; }
    std::int32_t argumentCount() const { return argCopyCount; }

private:
    void freeArgCopies();

    CalibContext calibContext;
    char* argCopies[kMaxArguments];
    std::int32_t argCopyCount;
};
