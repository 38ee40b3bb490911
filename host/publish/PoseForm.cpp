#include "PoseForm.h"

#include <cmath>

namespace host {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

const char* const kEulerNames[3] = {"azimuth", "elevation", "roll"};
const char* const kQuaternionNames[4] = {"qw", "qx", "qy", "qz"};
const char* const kMatrixNames[9] = {"m00", "m01", "m02", "m10", "m11", "m12", "m20", "m21", "m22"};

}  // namespace

int positionIn(Units units, std::int32_t published, std::int64_t& scaled)
{
    const std::int64_t value = published;
    switch (units) {
    case Units::Inches:
        scaled = value * 12;
        return 5;
    case Units::Meters: {
        // 1e-5 ft is 3.048 micrometres; rounded half away from zero.
        const std::int64_t micrometresTimes1000 = value * 3048;
        scaled = (micrometresTimes1000 + (micrometresTimes1000 < 0 ? -500 : 500)) / 1000;
        return 6;
    }
    case Units::Feet:
        break;
    }
    scaled = value;
    return 5;
}

double feetIn(Units units)
{
    return units == Units::Inches ? 12.0 : units == Units::Meters ? 0.3048 : 1.0;
}

void orientationMatrix(double azimuth, double elevation, double roll, double (&matrix)[9])
{
    const double a = azimuth * kRadiansPerDegree;
    const double e = elevation * kRadiansPerDegree;
    const double r = roll * kRadiansPerDegree;
    const double cA = std::cos(a), sA = std::sin(a);
    const double cE = std::cos(e), sE = std::sin(e);
    const double cR = std::cos(r), sR = std::sin(r);
    // Ry(A) Rx(E) Rz(R), written out.
    matrix[0] = cA * cR + sA * sE * sR;
    matrix[1] = sA * sE * cR - cA * sR;
    matrix[2] = sA * cE;
    matrix[3] = cE * sR;
    matrix[4] = cE * cR;
    matrix[5] = -sE;
    matrix[6] = cA * sE * sR - sA * cR;
    matrix[7] = cA * sE * cR + sA * sR;
    matrix[8] = cA * cE;
}

void orientationQuaternion(double azimuth, double elevation, double roll, double (&quaternion)[4])
{
    const double a = azimuth * kRadiansPerDegree / 2.0;
    const double e = elevation * kRadiansPerDegree / 2.0;
    const double r = roll * kRadiansPerDegree / 2.0;
    const double cA = std::cos(a), sA = std::sin(a);
    const double cE = std::cos(e), sE = std::sin(e);
    const double cR = std::cos(r), sR = std::sin(r);
    // The product (cA, 0, sA, 0) (cE, sE, 0, 0) (cR, 0, 0, sR) of the three
    // turns, in the order of the matrices.
    double w = cA * cE * cR + sA * sE * sR;
    double x = cA * sE * cR + sA * cE * sR;
    double y = sA * cE * cR - cA * sE * sR;
    double z = cA * cE * sR - sA * sE * cR;
    const double norm = std::sqrt(w * w + x * x + y * y + z * z);
    const double sign = w < 0.0 ? -1.0 : 1.0;
    quaternion[0] = sign * w / norm;
    quaternion[1] = sign * x / norm;
    quaternion[2] = sign * y / norm;
    quaternion[3] = sign * z / norm;
}

void orientationAngles(const double (&quaternion)[4], double& azimuth, double& elevation, double& roll)
{
    const double w = quaternion[0], x = quaternion[1], y = quaternion[2], z = quaternion[3];
    // The entries of the matrix (see orientationMatrix) that the angles come
    // from.
    const double m2 = 2.0 * (x * z + w * y);
    const double m5 = 2.0 * (y * z - w * x);
    const double m8 = 1.0 - 2.0 * (x * x + y * y);
    const double m3 = 2.0 * (x * y + w * z);
    const double m4 = 1.0 - 2.0 * (x * x + z * z);
    const double m0 = 1.0 - 2.0 * (y * y + z * z);
    const double m6 = 2.0 * (x * z - w * y);
    const double sinE = -m5 < -1.0 ? -1.0 : -m5 > 1.0 ? 1.0 : -m5;
    elevation = std::asin(sinE) / kRadiansPerDegree;
    if (std::sqrt(m3 * m3 + m4 * m4) > 1e-9) {
        azimuth = std::atan2(m2, m8) / kRadiansPerDegree;
        roll = std::atan2(m3, m4) / kRadiansPerDegree;
    } else {
        // cos E = 0: m0 = cos(A -+ R), m6 = -sin(A -+ R); roll 0.
        azimuth = std::atan2(-m6, m0) / kRadiansPerDegree;
        roll = 0.0;
    }
    azimuth = azimuth <= -180.0 ? azimuth + 360.0 : azimuth;
    roll = roll <= -180.0 ? roll + 360.0 : roll;
}

int orientationValues(Rotation rotation, const std::int32_t (&pose)[6], double (&values)[9])
{
    const double azimuth = pose[3] / 100000.0;
    const double elevation = pose[4] / 100000.0;
    const double roll = pose[5] / 100000.0;
    switch (rotation) {
    case Rotation::Quaternion: {
        double quaternion[4];
        orientationQuaternion(azimuth, elevation, roll, quaternion);
        for (int i = 0; i < 4; ++i) {
            values[i] = quaternion[i];
        }
        return 4;
    }
    case Rotation::Matrix:
        orientationMatrix(azimuth, elevation, roll, values);
        return 9;
    case Rotation::Euler:
        break;
    }
    values[0] = azimuth;
    values[1] = elevation;
    values[2] = roll;
    return 3;
}

int orientationCount(Rotation rotation)
{
    return rotation == Rotation::Quaternion ? 4 : rotation == Rotation::Matrix ? 9 : 3;
}

const char* const* orientationNames(Rotation rotation)
{
    return rotation == Rotation::Quaternion ? kQuaternionNames
           : rotation == Rotation::Matrix   ? kMatrixNames
                                            : kEulerNames;
}

}  // namespace host
