#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/DataRecords.h"
#include "common/CLogH.h"
#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/TrackerLayer.h"
#include "tracker/CTraCommonH.h"
#include "tracker/Matrix4.h"
#include "tracker/SampleTransform.h"

namespace {

// Angles that pass through the transform come out shrunk by the round trip
// of the two float constants (90 as 89.99998).
constexpr float kAngleTolerance = 1e-4f;

void expectAngles(const TrackerPose& pose, float azimuth, float elevation, float roll)
{
    EXPECT_NEAR(pose.azimuth, azimuth, kAngleTolerance);
    EXPECT_NEAR(pose.elevation, elevation, kAngleTolerance);
    EXPECT_NEAR(pose.roll, roll, kAngleTolerance);
}

const Matrix4 kIdentity = identityMatrix();
const float kNoTranslation[3] = {0.0f, 0.0f, 0.0f};

TEST(Matrix4, AxisAngleTurnsCounterclockwise)
{
    // (1, 0, 0) as a row vector times the block about z by 90 degrees.
    const Matrix4 turn = axisAngleMatrix(0.0f, 0.0f, 2.0f, 90.0f);
    EXPECT_NEAR(turn.at(0, 0), 0.0f, 1e-6f);
    EXPECT_NEAR(turn.at(0, 1), 1.0f, 1e-6f);
    EXPECT_NEAR(turn.at(1, 0), -1.0f, 1e-6f);
    EXPECT_EQ(turn.at(2, 2), 1.0f);
    EXPECT_EQ(turn.at(3, 3), 0.0f);
    const Matrix4 none = axisAngleMatrix(0.0f, 0.0f, 0.0f, 30.0f);
    for (unsigned r = 0; r < 4; ++r) {
        for (unsigned c = 0; c < 4; ++c) {
            EXPECT_EQ(none.at(r, c), r == c && r < 3 ? 1.0f : 0.0f);
        }
    }
    const Matrix4 t = composeTransform(turn, offsetMatrix(1, 2, 3));
    EXPECT_EQ(t.at(3, 0), 1.0f);
    EXPECT_EQ(t.at(3, 2), 3.0f);
    EXPECT_EQ(t.at(3, 3), 1.0f);
    EXPECT_EQ(t.at(0, 3), 0.0f);
}

TEST(SampleTransform, TransmitterRotationTurnsPositionAndRoll)
{
    const Matrix4 transmitter = composeTransform(axisAngleMatrix(0, 0, 1, 90), zeroMatrix());
    TrackerPose pose{1, 0, 0, 0, 0, 0};
    applyTransform(pose, &transmitter, &kIdentity, kNoTranslation);
    EXPECT_NEAR(pose.x, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(pose.y, 1.0f);
    EXPECT_EQ(pose.z, 0.0f);
    expectAngles(pose, 0, 0, 90);
}

TEST(SampleTransform, SensorOffsetFollowsTheFinalOrientation)
{
    const Matrix4 sensor = composeTransform(identityMatrix(), offsetMatrix(0, 0, 1));
    TrackerPose turned{0, 0, 0, 90, 0, 0};
    applyTransform(turned, &kIdentity, &sensor, kNoTranslation);
    EXPECT_FLOAT_EQ(turned.x, 1.0f);
    EXPECT_EQ(turned.y, 0.0f);
    EXPECT_NEAR(turned.z, 0.0f, 1e-6f);

    TrackerPose straight{0, 0, 0, 0, 0, 0};
    applyTransform(straight, &kIdentity, &sensor, kNoTranslation);
    EXPECT_EQ(straight.x, 0.0f);
    EXPECT_EQ(straight.y, 0.0f);
    EXPECT_EQ(straight.z, 1.0f);

    // Elevation 90 points the sensor's z axis down: (0, -1, 0).
    TrackerPose up{0, 0, 0, 0, 90, 0};
    applyTransform(up, &kIdentity, &sensor, kNoTranslation);
    EXPECT_NEAR(up.y, -1.0f, 1e-6f);
    EXPECT_NEAR(up.z, 0.0f, 1e-3f);
}

TEST(SampleTransform, SensorTranslationIsNotRotated)
{
    const float translation[3] = {0.5f, 0.0f, 0.0f};
    TrackerPose pose{0, 0, 0, 90, 0, 0};
    applyTransform(pose, &kIdentity, &kIdentity, translation);
    EXPECT_EQ(pose.x, 0.5f);
    EXPECT_EQ(pose.y, 0.0f);
    EXPECT_EQ(pose.z, 0.0f);
    expectAngles(pose, 90, 0, 0);
    EXPECT_LT(pose.azimuth, 90.0f);  // recomputed, not passed through
}

TEST(SampleTransform, SensorRotationAboutY)
{
    const Matrix4 sensor = composeTransform(axisAngleMatrix(0, 1, 0, 90), zeroMatrix());
    TrackerPose pose{0, 0, 0, 0, 0, 0};
    applyTransform(pose, &kIdentity, &sensor, kNoTranslation);
    expectAngles(pose, 90, 0, 0);
}

TEST(SampleTransform, TransmitterOffsetMovesExactlyAndKeepsAngles)
{
    const Matrix4 transmitter = composeTransform(identityMatrix(), offsetMatrix(1, 2, 3));
    TrackerPose pose{0.25f, -0.5f, 4.0f, 30.0f, -45.0f, 170.0f};
    applyTransform(pose, &transmitter, &kIdentity, kNoTranslation);
    EXPECT_EQ(pose.x, 1.25f);
    EXPECT_EQ(pose.y, 1.5f);
    EXPECT_EQ(pose.z, 7.0f);
    expectAngles(pose, 30, -45, 170);

    // Half turns keep their sign; elevation stays within its range.
    TrackerPose half{0, 0, 0, 180.0f, 0.0f, -180.0f};
    applyTransform(half, &transmitter, &kIdentity, kNoTranslation);
    EXPECT_GT(half.azimuth, 179.99f);
    EXPECT_LT(half.roll, -179.99f);
    TrackerPose up{0, 0, 0, 10.0f, 90.0f, 0.0f};
    applyTransform(up, &transmitter, &kIdentity, kNoTranslation);
    EXPECT_LE(up.elevation, 90.0f);
    EXPECT_GT(up.elevation, 89.99f);
}

// All parts at once, checked against the geometry: the transmitter stands at
// (1, 0, 0) turned by 90 degrees about z; the sensor is turned by 90 degrees
// about its x axis and the tracked point sits 1 foot along the sensor's own z
// axis; the output is moved by (0, 0, 0.5).
TEST(SampleTransform, AllPartsTogether)
{
    const Matrix4 transmitter = composeTransform(axisAngleMatrix(0, 0, 1, 90), offsetMatrix(1, 0, 0));
    const Matrix4 sensor = composeTransform(axisAngleMatrix(1, 0, 0, 90), offsetMatrix(0, 0, 1));
    const float translation[3] = {0.0f, 0.0f, 0.5f};
    TrackerPose pose{1, 0, 0, 0, 0, 0};
    applyTransform(pose, &transmitter, &sensor, translation);
    // Rz(90) * Rx(90) has the rows (0, 0, 1), (1, 0, 0), (0, 1, 0), which is
    // O(90, 0, 90); its column 2 says that the sensor's z axis points along
    // output x. The measured point (1, 0, 0) lands on (1, 1, 0).
    expectAngles(pose, 90, 0, 90);
    EXPECT_NEAR(pose.x, 2.0f, 1e-5f);
    EXPECT_NEAR(pose.y, 1.0f, 1e-5f);
    EXPECT_NEAR(pose.z, 0.5f, 1e-5f);
}

// Each placement alone, on a point and an orientation off every axis: every
// entry of the blocks then counts, and one entry read from its transposed
// place moves the result.
//
// The pose: (1, 2, 3) feet, azimuth 90, elevation -30, roll 60. With cA = 0,
// sA = 1, cE = V3/2, sE = -1/2, cR = 1/2, sR = V3/2 (V3 = the square root of
// 3) its orientation O(90, -30, 60) has the rows
//   (cA cR + sA sE sR, sA sE cR - cA sR, sA cE) = (-V3/4, -1/4, V3/2)
//   (cE sR,            cE cR,            -sE)   = ( 3/4,  V3/4,  1/2)
//   (cA sE sR - sA cR, cA sE cR + sA sR, cA cE) = (-1/2,  V3/2,    0)
// and no entry equals its transposed one.
//
// The rotation: 120 degrees about (1, 1, 1), which turns x into y, y into z
// and z into x. Its block has the rows (0, 1, 0), (0, 0, 1), (1, 0, 0), so a
// row vector (x, y, z) becomes (z, x, y); again no entry equals its
// transposed one. Its transposed block, the same rotation for column
// vectors, has the rows (0, 0, 1), (1, 0, 0), (0, 1, 0).
TEST(SampleTransform, EachPlacementOffEveryAxis)
{
    const float root3 = std::sqrt(3.0f);
    const Matrix4 turn = axisAngleMatrix(1, 1, 1, 120);
    struct Placement {
        const char* name;
        Matrix4 transmitter;
        Matrix4 sensor;
        TrackerPose expected;
    };
    const Placement placements[] = {
        // Position: (1, 2, 3) becomes (3, 1, 2). Angles: M = T3' O takes its
        // rows from O's rows 2, 0, 1:
        //   (-1/2, V3/2, 0), (-V3/4, -1/4, V3/2), (3/4, V3/4, 1/2);
        // azimuth atan2(M02, M22) = atan2(0, 1/2) = 0, elevation
        // atan2(-M12, sqrt(M02^2 + M22^2)) = atan2(-V3/2, 1/2) = -60, roll
        // atan2(M10, M11) = atan2(-V3/4, -1/4) = -120.
        {"transmitter rotation", composeTransform(turn, zeroMatrix()), kIdentity, {3, 1, 2, 0, -60, -120}},
        // Position: (1, 2, 3) + (0.5, -1, 2). Angles: M = O; atan2(V3/2, 0) = 90,
        // atan2(-1/2, V3/2) = -30, atan2(3/4, V3/4) = 60: unchanged.
        {"transmitter offset", composeTransform(identityMatrix(), offsetMatrix(0.5f, -1, 2)), kIdentity,
         {1.5f, 1, 5, 90, -30, 60}},
        // Position unchanged. Angles: M = O S3' takes its columns from O's
        // columns 1, 2, 0: rows (-1/4, V3/2, -V3/4), (V3/4, 1/2, 3/4),
        // (V3/2, 0, -1/2); azimuth atan2(-V3/4, -1/2) = -(180 - atan(V3/2))
        // = -139.10661, elevation atan2(-3/4, sqrt(3/16 + 1/4) = V7/4)
        // = -atan(3/V7) = -48.59038, roll atan2(V3/4, 1/2) = atan(V3/2)
        // = 40.89339.
        {"sensor rotation", kIdentity, composeTransform(turn, zeroMatrix()),
         {1, 2, 3, -139.10661f, -48.59038f, 40.89339f}},
        // The offset (4, -2, 2) in the sensor's axes, turned by O (the angles
        // are unchanged):
        //   x: -V3/4 * 4 + -1/4 * -2 + V3/2 * 2 = 1/2
        //   y:   3/4 * 4 + V3/4 * -2 +  1/2 * 2 = 4 - V3/2
        //   z:  -1/2 * 4 + V3/2 * -2 +    0 * 2 = -2 - V3
        // added to (1, 2, 3).
        {"sensor offset", kIdentity, composeTransform(identityMatrix(), offsetMatrix(4, -2, 2)),
         {1.5f, 6 - root3 / 2, 1 - root3, 90, -30, 60}},
    };
    for (const Placement& placement : placements) {
        SCOPED_TRACE(placement.name);
        TrackerPose pose{1, 2, 3, 90, -30, 60};
        applyTransform(pose, &placement.transmitter, &placement.sensor, kNoTranslation);
        EXPECT_NEAR(pose.x, placement.expected.x, 1e-5f);
        EXPECT_NEAR(pose.y, placement.expected.y, 1e-5f);
        EXPECT_NEAR(pose.z, placement.expected.z, 1e-5f);
        expectAngles(pose, placement.expected.azimuth, placement.expected.elevation, placement.expected.roll);
    }
}

TEST(SampleTransform, AbsentMatrixLeavesThePose)
{
    TrackerPose pose{1, 2, 3, 30, 40, 50};
    const TrackerPose before = pose;
    applyTransform(pose, nullptr, &kIdentity, kNoTranslation);
    applyTransform(pose, &kIdentity, nullptr, kNoTranslation);
    EXPECT_EQ(std::memcmp(&pose, &before, sizeof pose), 0);
}

TEST(SampleTransform, LayerTransformsOnlyWhenSomethingIsSet)
{
    const CLogH log(kit::plainLogSettings("Dev"));
    auto layer = kit::makeTrackerLayer(log, 3, 1);
    TrackerPose pose{1, 2, 3, 30, 40, 50};
    const TrackerPose before = pose;
    layer->transformPose(*layer->getTrackerMap(2), pose);
    EXPECT_EQ(std::memcmp(&pose, &before, sizeof pose), 0);

    kit::ConfigText config("Vantrel 3\nsensortranslation 3 0 0 1\n");
    ASSERT_TRUE(layer->parseOptions(config.block()));
    layer->transformPose(*layer->getTrackerMap(2), pose);
    EXPECT_EQ(std::memcmp(&pose, &before, sizeof pose), 0);
    layer->transformPose(*layer->getTrackerMap(3), pose);
    EXPECT_EQ(pose.z, 4.0f);
    EXPECT_NEAR(pose.azimuth, 29.999996f, 2e-6f);  // through the transform
    EXPECT_NE(pose.azimuth, 30.0f);
}

TEST(SampleTransform, DataWordsNormalise)
{
    EXPECT_EQ(wordToFraction(0x20, 0x00), 0.50001526f);
    EXPECT_EQ(wordToFraction(0x40, 0x00), -1.0f);
    EXPECT_EQ(wordToFraction(0x3F, 0x7F), 0.99990845f);
    EXPECT_EQ(wordToFraction(0x7F, 0x7F), -0.00012207404f);
    EXPECT_EQ(wordToFraction(0x00, 0x00), 0.0f);
    // The top bit of each byte is the phasing bit, not data.
    EXPECT_EQ(wordToFraction(0xA0, 0x80), 0.50001526f);
    EXPECT_EQ(wordToFraction(0xC0, 0x01), wordToFraction(0x40, 0x01));
}

TrackerData trackerRecord(std::int32_t x, std::int32_t azimuth)
{
    TrackerData record;
    resetTrackerData(record);
    record.pose[0] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(x)));
    record.pose[3] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(azimuth)));
    return record;
}

TEST(SampleCompare, TrackerSamples)
{
    TrackerData a = trackerRecord(100000, 0);
    TrackerData b = trackerRecord(100000, 0);
    b.storageIndex = toNetwork32(7);
    b.sampleSeconds = toNetwork32(123456);
    b.sampleMicroseconds = toNetwork32(999000);
    b.timeRecord.seconds = 42;
    EXPECT_TRUE(sameTrackerSample(a, b));
    EXPECT_FALSE(sameTrackerSample(trackerRecord(100000, 0), trackerRecord(100001, 0)));
    EXPECT_FALSE(sameTrackerSample(trackerRecord(-1, 0), trackerRecord(0, 0)));
    TrackerData roll = trackerRecord(0, 0);
    roll.pose[5] = static_cast<std::int32_t>(toNetwork32(1));
    EXPECT_FALSE(sameTrackerSample(trackerRecord(0, 0), roll));
    // Near 180 degrees the float steps are wider than 0.00001: 180.00001 and
    // 180.00002 read back as the same float, 180.0 and 180.00001 do not.
    EXPECT_TRUE(sameTrackerSample(trackerRecord(0, 18000001), trackerRecord(0, 18000002)));
    EXPECT_FALSE(sameTrackerSample(trackerRecord(0, 18000000), trackerRecord(0, 18000001)));
    EXPECT_TRUE(sameTrackerSample(trackerRecord(0, -18000001), trackerRecord(0, -18000002)));
}

ControllerData controllerRecord(std::uint32_t valuators, std::uint32_t buttons)
{
    ControllerData record;
    resetControllerData(record);
    record.valuatorCount = toNetwork32(valuators);
    record.buttonCount = toNetwork32(buttons);
    return record;
}

TEST(SampleCompare, ControllerSamples)
{
    ControllerData a = controllerRecord(2, 3);
    ControllerData b = controllerRecord(2, 3);
    b.sampleSeconds = 99;
    EXPECT_TRUE(sameControllerSample(a, b));
    EXPECT_FALSE(sameControllerSample(a, controllerRecord(1, 3)));
    EXPECT_FALSE(sameControllerSample(a, controllerRecord(2, 4)));

    b.valuators[1] = static_cast<std::int32_t>(toNetwork32(1));
    EXPECT_FALSE(sameControllerSample(a, b));
    // Valuators beyond the count are not compared.
    b = controllerRecord(2, 3);
    b.valuators[2] = static_cast<std::int32_t>(toNetwork32(500));
    EXPECT_TRUE(sameControllerSample(a, b));

    b.buttonBits[3] = 0x80;
    EXPECT_FALSE(sameControllerSample(a, b));
    // Bytes past the other record's own count read as 0.
    b = controllerRecord(2, 3);
    b.buttonBytes = 1;
    b.buttonBits[2] = 0x01;
    EXPECT_TRUE(sameControllerSample(a, b));
    a.buttonBits[2] = 0x01;
    EXPECT_FALSE(sameControllerSample(a, b));
}

TEST(SampleCompare, CountsBeyondTheRecordAreNotFollowed)
{
    ControllerData a = controllerRecord(1000, 3);
    ControllerData b = controllerRecord(1000, 3);
    a.buttonBytes = 100000;
    b.buttonBytes = 100000;
    EXPECT_TRUE(sameControllerSample(a, b));
    b.valuators[31] = static_cast<std::int32_t>(toNetwork32(1));
    EXPECT_FALSE(sameControllerSample(a, b));
}

TEST(ButtonBits, SetAndClear)
{
    ControllerData record = controllerRecord(0, 3);
    EXPECT_TRUE(setButtonBit(record, 3, 1));
    EXPECT_EQ(record.buttonBits[0], 0x04);
    EXPECT_TRUE(setButtonBit(record, 1, 7));
    EXPECT_EQ(record.buttonBits[0], 0x05);
    EXPECT_TRUE(setButtonBit(record, 3, 0));
    EXPECT_EQ(record.buttonBits[0], 0x01);
    EXPECT_TRUE(setButtonBit(record, 1, -1));
    EXPECT_EQ(record.buttonBits[0], 0x00);

    const ControllerData before = record;
    EXPECT_FALSE(setButtonBit(record, 4, 1));  // more than the button count
    EXPECT_FALSE(setButtonBit(record, 0, 1));
    EXPECT_FALSE(setButtonBit(record, 33, 1));
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);

    ControllerData wide = controllerRecord(0, 16);
    EXPECT_TRUE(setButtonBit(wide, 9, 1));
    EXPECT_EQ(wide.buttonBits[1], 0x01);
    wide.buttonBytes = 1;
    EXPECT_FALSE(setButtonBit(wide, 9, 0));
    EXPECT_EQ(wide.buttonBits[1], 0x01);
}

}  // namespace
