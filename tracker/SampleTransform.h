#pragma once
// The per-sample helpers of the tracker path: the placement transform of a
// decoded pose, the normalisation of one data word, the comparison of a new
// sample with the previous one and the button-bit setter of a controller
// record. None of them allocates or keeps state.
#include <cstdint>

#include "tracker/Matrix4.h"
#include "vantrel/DataRecords.h"
#include "vantrel/TrackerPose.h"

// Moves the pose from the transmitter's frame to the configured point of the
// tracked object in the output frame: the position through the transmitter
// transform, the angles through both rotation blocks, then the sensor offset
// (in the sensor's own axes, after its final orientation) and last the
// translation (in output axes, may be null). Does nothing when either matrix
// is null.
void applyTransform(TrackerPose& pose, const Matrix4* transmitter, const Matrix4* sensor,
                    const float* translation);

// Replaces the three angles by those of T3' * O(A, E, R) * S3', where T3' and
// S3' are the transposed rotation blocks of the two transforms.
void rotateAngles(TrackerPose& pose, const Matrix4& transmitter, const Matrix4& sensor);

// One 14-bit data word (seven bits of each byte) as a value in [-1, 1].
float wordToFraction(std::uint8_t high, std::uint8_t low);

// True when the six pose values are equal once read back as 32-bit floats;
// time stamps and ids do not count.
bool sameTrackerSample(const TrackerData& a, const TrackerData& b);
// True when the counts, the valuator values (as 32-bit floats) and the button
// bytes are equal.
bool sameControllerSample(const ControllerData& a, const ControllerData& b);

// Sets (pressed > 0) or clears bit n-1 of the button bits; false without a
// change when the record has no such button.
bool setButtonBit(ControllerData& record, std::uint32_t button, std::int32_t pressed);
