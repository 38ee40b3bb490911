#pragma once
// The interface of a calibration library: a dynamic library that the tracker
// layer loads by the name given in its calibration option line and that sees
// every decoded tracker sample before the transmitter and sensor placement is
// applied.
//
// A library exports three entry points with C linkage and the platform's
// default C calling convention (cdecl on 32-bit Windows, exported under their
// plain names):
//
//   calib_init(arguments, count)
//       Called once when the device is initialised. arguments holds the count
//       (0..10) library arguments of the calibration line, the library name
//       not included; the strings stay valid until calib_exit has returned.
//       The value returned is the library's context: it is handed back
//       unchanged to calib_evaluate and calib_exit and never looked at
//       otherwise. It is pointer-sized, so a library may return a pointer.
//   calib_evaluate(context, pose)
//       Called once per tracker sample with the pose as decoded (position in
//       feet, angles in degrees, in the transmitter's frame). The library may
//       change the pose in place; the module goes on with what it leaves.
//       Called on the host's data thread at the tracker's report rate: it
//       should allocate nothing and return quickly.
//   calib_exit(context)
//       Called once when the device stops.
//
// Anything the library writes should go to standard output, as the module's
// own log lines do.
#include <cstdint>

#include "vantrel/TrackerPose.h"

#if defined(_WIN32)
#define VANTREL_CALIB_CALL __cdecl
#define VANTREL_CALIB_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTREL_CALIB_CALL
#define VANTREL_CALIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The value that calib_init returns and the other two receive.
using CalibContext = std::intptr_t;

// Signatures of the three entry points, as the module calls them.
using CalibInitFunction = CalibContext(VANTREL_CALIB_CALL*)(char** arguments, std::int32_t count);
using CalibEvaluateFunction = void(VANTREL_CALIB_CALL*)(CalibContext context, TrackerPose* pose);
using CalibExitFunction = void(VANTREL_CALIB_CALL*)(CalibContext context);

// A library defines them as, for example:
//
//   VANTREL_CALIB_EXPORT CalibContext VANTREL_CALIB_CALL calib_init(char** arguments, std::int32_t count);
//   VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_evaluate(CalibContext context, TrackerPose* pose);
//   VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_exit(CalibContext context);
