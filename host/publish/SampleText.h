#pragma once
// The text forms of a sample: a JSON line and a CSV row. Written into a
// caller's buffer; nothing is allocated per sample.
#include <cstddef>
#include <cstdint>
#include <string>

#include "OutputOptions.h"
#include "Publisher.h"

namespace host {

// Room for the longest line either form makes, with the longest device name
// (the configuration file allows 31 bytes, each written as \u00XX at most).
constexpr std::size_t kSampleTextSize = 1024;

// A value times 100000 as a decimal number with five decimals ("-1.50000").
std::size_t formatFixed(char* out, std::int32_t value);

// The device name as a JSON string (with its quotes), and as a CSV field.
std::string jsonDeviceName(const std::string& name);
std::string csvDeviceName(const std::string& name);

// One JSON object and a line end:
//   {"time":T,"device":D,"tracker":ID,"x":..,"y":..,"z":..,"azimuth":..,"elevation":..,"roll":..}
//   {"time":T,"device":D,"controller":ID,"buttons":[0,1,0]}
// and for a tracker of a device that predicts, after the orientation,
// "predicted":true (the pose is the prediction) or false (as measured).
// device: the name as jsonDeviceName gives it. form: x, y, z in feet (exactly
// the published value, five decimals), inches (five) or metres (six);
// the orientation as azimuth, elevation, roll in degrees (exactly as
// published), as qw, qx, qy, qz or as m00 .. m22 (nine decimals; see
// PoseForm.h). Returns the length.
std::size_t jsonLine(char (&out)[kSampleTextSize], const HostSample& sample, const std::string& device,
                     const PoseForm& form = PoseForm());

// The CSV header and one row with the same columns (empty where a column does
// not apply; buttons as a string of 0 and 1, button 1 first). The columns
// status, since and attempt are those of the status rows. With
// predictedColumn (a run in which a device predicts) a last column
// predicted: 1 or 0 on the tracker rows of a device that predicts (as in the
// JSON lines), empty elsewhere.
std::string csvHeader(Rotation rotation = Rotation::Euler, bool predictedColumn = false);
std::size_t csvLine(char (&out)[kSampleTextSize], const HostSample& sample, const std::string& device,
                    const PoseForm& form = PoseForm(), bool predictedColumn = false);

// A device's state as the outputs name it: ok, silent, lost, reconnecting.
const char* stateName(DeviceStatus::State state);

// A change of a device's state, as a JSON line:
//   {"time":T,"device":D,"status":"silent","since":S}
//   {"time":T,"device":D,"status":"reconnecting","since":S,"attempt":N}
// (without the attempt when it is not known)
// and as a CSV row (time, device, status, since and attempt; the sample
// columns empty). Returns the length.
std::size_t statusJsonLine(char (&out)[kSampleTextSize], const DeviceStatus& status, const std::string& device);
std::size_t statusCsvLine(char (&out)[kSampleTextSize], const DeviceStatus& status, const std::string& device,
                          Rotation rotation = Rotation::Euler, bool predictedColumn = false);

}  // namespace host
