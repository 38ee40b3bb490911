#pragma once
// One tracker sample as the module works on it: position in feet, angles in
// degrees. A calibration library receives it in this layout.
//
// Orientation: the angles A (azimuth), E (elevation), R (roll) stand for the
// rotation Ry(A) * Rx(E) * Rz(R) acting on column vectors: azimuth turns
// about y, elevation about x, roll about z, roll applied first.
struct TrackerPose {
    float x;
    float y;
    float z;
    float azimuth;
    float elevation;
    float roll;
};

static_assert(sizeof(TrackerPose) == 24, "TrackerPose is six 32-bit floats");
