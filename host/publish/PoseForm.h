#pragma once
// A published pose in the forms that --units and --rotation ask for. Nothing
// here allocates: it runs on the path of every sample.
//
// Axes and angles are the module's: x, y, z of the output frame; azimuth A,
// elevation E and roll R stand for the rotation O = Ry(A) Rx(E) Rz(R) acting on
// column vectors (azimuth about y, elevation about x, roll about z, roll
// applied first), the sensor's orientation in the output frame.
//   matrix:     O row by row: m00 m01 m02 / m10 m11 m12 / m20 m21 m22; a vector
//               in the sensor's axes, v, is O v in the output's
//   quaternion: w, x, y, z of the same rotation (Hamilton's convention:
//               O v = q v q*), unit norm, with w >= 0
#include <cstdint>

#include "OutputOptions.h"

namespace host {

// A published value (x 100000) of a position in feet as an integer in the
// given units, times 10 to the power of the returned number of decimals:
// feet and inches with 5 (exactly), metres with 6 (micrometres, rounded).
int positionIn(Units units, std::int32_t published, std::int64_t& scaled);

// The rotation of angles in degrees, row by row.
void orientationMatrix(double azimuth, double elevation, double roll, double (&matrix)[9]);
// The same rotation as a unit quaternion w, x, y, z with w >= 0.
void orientationQuaternion(double azimuth, double elevation, double roll, double (&quaternion)[4]);

// The angles in degrees (azimuth and roll in (-180, 180], elevation in
// [-90, 90]) of the rotation that a unit quaternion w, x, y, z stands for;
// at elevation +-90 degrees, where azimuth and roll turn about one axis, with
// roll 0.
void orientationAngles(const double (&quaternion)[4], double& azimuth, double& elevation, double& roll);

// The orientation of a published pose (x 100000: x, y, z, azimuth, elevation,
// roll) in the given form: 3 Euler angles in degrees, 4 quaternion or 9
// matrix values. Returns how many.
int orientationValues(Rotation rotation, const std::int32_t (&pose)[6], double (&values)[9]);

// How many values the form has: 3, 4 or 9.
int orientationCount(Rotation rotation);
// The names of those values in the samples' lines, in order.
const char* const* orientationNames(Rotation rotation);

// The factor from feet to the given units.
double feetIn(Units units);

}  // namespace host
