#pragma once
// 4 x 4 matrices of 32-bit floats as the tracker layer keeps its placements:
// stored row by row, element (r, c) at index 4r + c.
//
// - An offset matrix holds (x, y, z) in column 3 of rows 0-2, zeros elsewhere.
// - A rotation matrix holds a 3 x 3 block in rows 0-2, columns 0-2. The
//   block acts on row vectors: (x, y, z) becomes (x, y, z) times the block.
// - A transform holds a rotation block in rows 0-2 and its offset in row 3:
//   (x, y, z, 1).

struct Matrix4 {
    float m[16];

    float& at(unsigned row, unsigned column) { return m[4 * row + column]; }
    float at(unsigned row, unsigned column) const { return m[4 * row + column]; }
};

// Degrees to radians and back. Each constant is the 32-bit float one unit in
// the last place below the one nearest to pi/180 (180/pi), so a round trip
// shrinks an angle by a factor of 0.99999983.
constexpr float kDegreesToRadians = 0.01745329f;
constexpr float kRadiansToDegrees = 57.295776f;

Matrix4 zeroMatrix();
Matrix4 identityMatrix();
Matrix4 offsetMatrix(float x, float y, float z);
// The 3 x 3 block given row by row; everything outside it is 0. The values
// are taken as they are, whether or not they form a rotation.
Matrix4 rowsMatrix(const float values[9]);
// Turns a row vector counterclockwise by angle degrees about (ax, ay, az)
// (right-hand rule); a zero axis gives the identity block. Everything outside
// the block is 0.
Matrix4 axisAngleMatrix(float ax, float ay, float az, float angle);
// Rows 0-2 from the rotation (all four columns), row 3 = (x, y, z, 1) from
// the offset matrix.
Matrix4 composeTransform(const Matrix4& rotation, const Matrix4& offset);
