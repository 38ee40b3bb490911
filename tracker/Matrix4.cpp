#include "tracker/Matrix4.h"

#include <cmath>

Matrix4 zeroMatrix()
{
    return Matrix4{};
}

Matrix4 identityMatrix()
{
    Matrix4 result{};
    for (unsigned i = 0; i < 4; ++i) {
        result.at(i, i) = 1.0f;
    }
    return result;
}

Matrix4 offsetMatrix(float x, float y, float z)
{
    Matrix4 result{};
    result.at(0, 3) = x;
    result.at(1, 3) = y;
    result.at(2, 3) = z;
    return result;
}

Matrix4 rowsMatrix(const float values[9])
{
    Matrix4 result{};
    for (unsigned r = 0; r < 3; ++r) {
        for (unsigned c = 0; c < 3; ++c) {
            result.at(r, c) = values[3 * r + c];
        }
    }
    return result;
}

Matrix4 axisAngleMatrix(float ax, float ay, float az, float angle)
{
    float c = 1.0f;
    float s = 0.0f;
    float nx = 0.0f;
    float ny = 0.0f;
    float nz = 0.0f;
    const float length = std::sqrt(ax * ax + ay * ay + az * az);
    if (length != 0.0f) {
        nx = ax / length;
        ny = ay / length;
        nz = az / length;
        const float radians = angle * kDegreesToRadians;
        c = std::cos(radians);
        s = std::sin(radians);
    }
    const float t = 1.0f - c;
    const float values[9] = {
        c + t * nx * nx,      t * nx * ny + s * nz, t * nx * nz - s * ny,  //
        t * nx * ny - s * nz, c + t * ny * ny,      t * ny * nz + s * nx,  //
        t * nx * nz + s * ny, t * ny * nz - s * nx, c + t * nz * nz,
    };
    return rowsMatrix(values);
}

Matrix4 composeTransform(const Matrix4& rotation, const Matrix4& offset)
{
    Matrix4 result = rotation;
    result.at(3, 0) = offset.at(0, 3);
    result.at(3, 1) = offset.at(1, 3);
    result.at(3, 2) = offset.at(2, 3);
    result.at(3, 3) = 1.0f;
    return result;
}
