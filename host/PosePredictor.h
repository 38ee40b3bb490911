#pragma once
// The pose of one output tracker extrapolated to a horizon ahead (--predict,
// a device's `predict` line), from the sensor's recent samples: what the
// host publishes instead of the measured pose, so that a consumer sees
// where the sensor will be when it uses the pose rather than where it was.
//
// Position and orientation each go through a light filter of their own
// (a fading-memory alpha-beta filter: the estimate and its rate of change,
// each sample pulling them towards itself by gains that follow the time
// since the sample before, with a time constant of kTimeConstant), so that
// the line's quantisation and the sensor's noise are not multiplied by the
// horizon. The orientation is a unit quaternion throughout, its rate of
// change a rotation vector: no Euler angle is ever extrapolated, so a turn
// across azimuth or roll +-180 degrees, or through elevation +-90, is a turn
// like any other.
//
// The extrapolation never reaches further than the sensor itself went over
// the last horizon's time (the distance and the angle between the newest
// sample and the one a horizon before it): a sensor that stops suddenly is
// not overshot by more than the horizon's worth of its last motion, and a
// still one's noise is not amplified.
//
// No prediction across a gap: after more than the gap limit without a
// sample (a silence, a sensor that is not reported), or after reset (a
// device brought up again), the pose is published as measured until
// kFreshSamples samples have come again. A sensor whose samples stop while
// it was predicted (the module publishes changed samples only: a sensor
// that stops, a line that falls silent) is published once more as measured
// (settle).
//
// Nothing here allocates: it runs on the path of every sample.
#include <cstdint>

namespace host {

class PosePredictor {
public:
    // A published pose: x, y, z in feet, azimuth, elevation, roll in degrees,
    // all x 100000 (host byte order), as the storages hold it.
    using Pose = std::int32_t[6];

    // The filters' time constant.
    static constexpr double kTimeConstant = 0.015;
    // Samples of an unbroken run before the pose is predicted.
    static constexpr std::uint32_t kFreshSamples = 4;
    // The longest time between two samples of one run.
    static constexpr double kLongestGap = 0.1;

    // horizon: seconds ahead (0: no prediction); gap: the longest time
    // between two samples of one run (at most kLongestGap).
    void configure(double horizon, double gap);

    // Forgets every sample: the next ones are published as measured.
    void reset();

    // A measured sample, taken at `time` (seconds of a steady clock). Writes
    // the pose to publish to `out`: the prediction (true) or, while the run
    // of samples is too short, the measured pose itself (false).
    bool take(const Pose& measured, double time, Pose& out);

    // Whether the pose last published was predicted and no sample has come
    // for three times the usual time between samples (at least 5 ms) up to
    // `now`: then the caller publishes the last measured pose once more, as
    // measured (true is returned once).
    bool settle(double now);

private:
    struct Sample {
        double time = 0.0;
        double position[3] = {};
        double rotation[4] = {1.0, 0.0, 0.0, 0.0};  // w, x, y, z
    };
    // The newest sample taken at least the horizon before the newest one
    // (the oldest kept when none is that old).
    const Sample& horizonBefore() const;
    void predict(Pose& out) const;

    static constexpr std::uint32_t kKept = 64;

    double horizon_ = 0.0;
    double gap_ = kLongestGap;
    std::uint32_t count_ = 0;       // samples of the run so far
    double interval_ = 0.0;         // the usual time between samples
    bool predicted_ = false;        // the pose last published was predicted
    // The estimates: position (feet) and its velocity (feet a second),
    // orientation and its angular velocity (radians a second, about the
    // output frame's axes).
    double position_[3] = {};
    double velocity_[3] = {};
    double rotation_[4] = {1.0, 0.0, 0.0, 0.0};
    double spin_[3] = {};
    Sample kept_[kKept];            // the newest samples, a ring
    std::uint32_t newest_ = 0;
};

}  // namespace host
