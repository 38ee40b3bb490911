#include "tracker/SampleTransform.h"

#include <cmath>
#include <cstddef>

#include "common/DataRecords.h"

namespace {

// 3 x 3 matrix acting on column vectors, row by row.
struct Matrix3 {
    float m[9];

    float at(unsigned row, unsigned column) const { return m[3 * row + column]; }
};

// O(A, E, R) = Ry(A) * Rx(E) * Rz(R) for angles in degrees: azimuth turns
// about y, elevation about x, roll about z, roll first.
Matrix3 orientation(float azimuth, float elevation, float roll)
{
    const float a = azimuth * kDegreesToRadians;
    const float e = elevation * kDegreesToRadians;
    const float r = roll * kDegreesToRadians;
    const float cA = std::cos(a);
    const float sA = std::sin(a);
    const float cE = std::cos(e);
    const float sE = std::sin(e);
    const float cR = std::cos(r);
    const float sR = std::sin(r);
    return Matrix3{{
        cA * cR + sA * sE * sR, sA * sE * cR - cA * sR, sA * cE,  //
        cE * sR,                cE * cR,                -sE,      //
        cA * sE * sR - sA * cR, cA * sE * cR + sA * sR, cA * cE,
    }};
}

constexpr float kWordScale = 3.0518509e-05f;  // 1/32767

// Feet or degrees times 100000 in the records; 0.00001 brings them back.
constexpr double kPoseUnit = 0.00001;
// Valuators are stored times 1000.
constexpr double kValuatorUnit = 0.001;

float recordValue(std::int32_t networkValue, double unit)
{
    const auto value = static_cast<std::int32_t>(fromNetwork32(static_cast<std::uint32_t>(networkValue)));
    return static_cast<float>(value * unit);
}

std::uint32_t buttonByteCount(const ControllerData& record)
{
    // The record has room for four bytes of button bits whatever it claims.
    return record.buttonBytes < sizeof record.buttonBits ? record.buttonBytes
                                                         : static_cast<std::uint32_t>(sizeof record.buttonBits);
}

}  // namespace

void rotateAngles(TrackerPose& pose, const Matrix4& transmitter, const Matrix4& sensor)
{
    const Matrix3 o = orientation(pose.azimuth, pose.elevation, pose.roll);
    // P = O * S3', with S3'(k, j) = S(j, k).
    float p[3][3];
    for (unsigned i = 0; i < 3; ++i) {
        for (unsigned j = 0; j < 3; ++j) {
            p[i][j] = o.at(i, 0) * sensor.at(j, 0) + o.at(i, 1) * sensor.at(j, 1) + o.at(i, 2) * sensor.at(j, 2);
        }
    }
    // M = T3' * P, with T3'(i, k) = T(k, i); only the five entries that the
    // angles need.
    const auto m = [&](unsigned i, unsigned j) {
        return transmitter.at(0, i) * p[0][j] + transmitter.at(1, i) * p[1][j] + transmitter.at(2, i) * p[2][j];
    };
    const float m02 = m(0, 2);
    const float m22 = m(2, 2);
    const float m12 = m(1, 2);
    const float m10 = m(1, 0);
    const float m11 = m(1, 1);
    pose.azimuth = std::atan2(m02, m22) * kRadiansToDegrees;
    pose.elevation = std::atan2(-m12, std::sqrt(m02 * m02 + m22 * m22)) * kRadiansToDegrees;
    pose.roll = std::atan2(m10, m11) * kRadiansToDegrees;
}

void applyTransform(TrackerPose& pose, const Matrix4* transmitter, const Matrix4* sensor, const float* translation)
{
    if (transmitter == nullptr || sensor == nullptr) {
        return;
    }
    const Matrix4& t = *transmitter;
    const float x = pose.x;
    const float y = pose.y;
    const float z = pose.z;
    float nx = t.at(0, 0) * x + t.at(1, 0) * y + t.at(2, 0) * z + t.at(3, 0);
    float ny = t.at(0, 1) * x + t.at(1, 1) * y + t.at(2, 1) * z + t.at(3, 1);
    float nz = t.at(0, 2) * x + t.at(1, 2) * y + t.at(2, 2) * z + t.at(3, 2);

    rotateAngles(pose, t, *sensor);

    // The sensor offset follows the sensor's final orientation; a zero offset
    // moves nothing, so its rotation is skipped.
    const float s0 = sensor->at(3, 0);
    const float s1 = sensor->at(3, 1);
    const float s2 = sensor->at(3, 2);
    if (s0 != 0.0f || s1 != 0.0f || s2 != 0.0f) {
        const Matrix3 o = orientation(pose.azimuth, pose.elevation, pose.roll);
        nx += o.at(0, 0) * s0 + o.at(0, 1) * s1 + o.at(0, 2) * s2;
        ny += o.at(1, 0) * s0 + o.at(1, 1) * s1 + o.at(1, 2) * s2;
        nz += o.at(2, 0) * s0 + o.at(2, 1) * s1 + o.at(2, 2) * s2;
    }
    if (translation != nullptr) {
        nx += translation[0];
        ny += translation[1];
        nz += translation[2];
    }
    pose.x = nx;
    pose.y = ny;
    pose.z = nz;
}

float wordToFraction(std::uint8_t high, std::uint8_t low)
{
    const auto bits = static_cast<std::uint16_t>(((high & 0x7Fu) << 9) | ((low & 0x7Fu) << 2));
    const auto word = static_cast<std::int16_t>(bits);
    const float value = word * kWordScale;
    if (value < -1.0f) {
        return -1.0f;
    }
    if (value > 1.0f) {
        return 1.0f;
    }
    return value;
}

bool sameTrackerSample(const TrackerData& a, const TrackerData& b)
{
    for (std::size_t i = 0; i < 6; ++i) {
        if (recordValue(a.pose[i], kPoseUnit) != recordValue(b.pose[i], kPoseUnit)) {
            return false;
        }
    }
    return true;
}

bool sameControllerSample(const ControllerData& a, const ControllerData& b)
{
    if (a.valuatorCount != b.valuatorCount || a.buttonCount != b.buttonCount) {
        return false;
    }
    std::uint32_t valuators = fromNetwork32(a.valuatorCount);
    if (valuators > kMaxValuators) {
        valuators = kMaxValuators;
    }
    for (std::uint32_t i = 0; i < valuators; ++i) {
        if (recordValue(a.valuators[i], kValuatorUnit) != recordValue(b.valuators[i], kValuatorUnit)) {
            return false;
        }
    }
    const std::uint32_t bytesA = buttonByteCount(a);
    const std::uint32_t bytesB = buttonByteCount(b);
    for (std::uint32_t j = 0; j < bytesA; ++j) {
        const std::uint8_t left = a.buttonBits[j];
        const std::uint8_t right = j < bytesB ? b.buttonBits[j] : 0;
        if (left != right) {
            return false;
        }
    }
    return true;
}

bool setButtonBit(ControllerData& record, std::uint32_t button, std::int32_t pressed)
{
    if (button == 0 || button > kMaxButtons) {
        return false;
    }
    const std::uint32_t index = (button - 1) / 8;
    if (index >= record.buttonBytes || button > fromNetwork32(record.buttonCount)) {
        return false;
    }
    const auto mask = static_cast<std::uint8_t>(1u << ((button - 1) % 8));
    if (pressed > 0) {
        record.buttonBits[index] = static_cast<std::uint8_t>(record.buttonBits[index] | mask);
    } else {
        record.buttonBits[index] = static_cast<std::uint8_t>(record.buttonBits[index] & ~mask);
    }
    return true;
}
