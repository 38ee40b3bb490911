#pragma once
// The settings of one real tracker (one sensor position of the device): its
// output number and the sensor's placement.
#include <cstdint>

#include "tracker/Matrix4.h"

struct TrackerMap {
    // Output tracker number before the layer's output offset is added;
    // 0 = not published.
    std::uint32_t outputId;
    Matrix4 sensorOffset;       // offset matrix, feet, in the sensor's own axes
    Matrix4 sensorRotation;     // rotation matrix
    Matrix4 sensorTransform;    // composeTransform(sensorRotation, sensorOffset)
    float sensorTranslation[3]; // feet, in output axes, added last
    bool sensorOffsetSet;
    bool sensorRotationSet;
    bool sensorTranslationSet;
};
