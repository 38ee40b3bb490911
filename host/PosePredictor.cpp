#include "PosePredictor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "publish/PoseForm.h"

namespace host {

namespace {

using Quaternion = double[4];
using Vector = double[3];

// a b: b's turn, then a's.
void multiply(const Quaternion& a, const Quaternion& b, Quaternion& out)
{
    const double w = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    const double x = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    const double y = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    const double z = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
    out[0] = w;
    out[1] = x;
    out[2] = y;
    out[3] = z;
}

// a b* (b's turn undone, then a's): the turn from b to a.
void turnBetween(const Quaternion& a, const Quaternion& b, Quaternion& out)
{
    const Quaternion inverse = {b[0], -b[1], -b[2], -b[3]};
    multiply(a, inverse, out);
}

void normalise(Quaternion& q)
{
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& value : q) {
        value /= norm;
    }
}

// The turn of a rotation vector (angle times axis).
void turnOf(const Vector& vector, Quaternion& out)
{
    const double angle = std::sqrt(vector[0] * vector[0] + vector[1] * vector[1] + vector[2] * vector[2]);
    // sin(angle / 2) / angle, also near 0.
    const double factor = angle > 1e-12 ? std::sin(angle / 2.0) / angle : 0.5;
    out[0] = std::cos(angle / 2.0);
    for (int i = 0; i < 3; ++i) {
        out[1 + i] = vector[i] * factor;
    }
}

// The rotation vector of a turn, the short way round (at most half a turn).
void vectorOf(const Quaternion& turn, Vector& out)
{
    const double sign = turn[0] < 0.0 ? -1.0 : 1.0;
    const double w = std::min(1.0, sign * turn[0]);
    const double sine = std::sqrt(turn[1] * turn[1] + turn[2] * turn[2] + turn[3] * turn[3]);
    const double angle = 2.0 * std::atan2(sine, w);
    const double factor = sine > 1e-12 ? sign * angle / sine : 2.0 * sign;
    for (int i = 0; i < 3; ++i) {
        out[i] = turn[1 + i] * factor;
    }
}

double length(const Vector& vector)
{
    return std::sqrt(vector[0] * vector[0] + vector[1] * vector[1] + vector[2] * vector[2]);
}

// Shortens a vector to at most `most`.
void limit(Vector& vector, double most)
{
    const double now = length(vector);
    if (now > most) {
        for (double& value : vector) {
            value *= now > 0.0 ? most / now : 0.0;
        }
    }
}

std::int32_t published(double value)
{
    const double scaled = std::round(value * 100000.0);
    return scaled >= 2147483647.0 ? INT32_MAX : scaled <= -2147483648.0 ? INT32_MIN : static_cast<std::int32_t>(scaled);
}

}  // namespace

void PosePredictor::configure(double horizon, double gap)
{
    horizon_ = horizon > 0.0 ? horizon : 0.0;
    gap_ = gap > 0.0 && gap < kLongestGap ? gap : kLongestGap;
    reset();
}

void PosePredictor::reset()
{
    count_ = 0;
    predicted_ = false;
}

bool PosePredictor::take(const Pose& measured, double time, Pose& out)
{
    Sample sample;
    sample.time = time;
    for (int i = 0; i < 3; ++i) {
        sample.position[i] = measured[i] / 100000.0;
    }
    orientationQuaternion(measured[3] / 100000.0, measured[4] / 100000.0, measured[5] / 100000.0, sample.rotation);

    double dt = 0.0;
    if (count_ > 0) {
        dt = time - kept_[newest_].time;
        if (dt > gap_) {
            count_ = 0;  // a gap: a new run
        } else if (dt < 1e-6) {
            dt = 1e-6;
        }
    }
    if (count_ == 0) {
        std::memcpy(position_, sample.position, sizeof position_);
        std::memcpy(rotation_, sample.rotation, sizeof rotation_);
        std::fill(velocity_, velocity_ + 3, 0.0);
        std::fill(spin_, spin_ + 3, 0.0);
        interval_ = 0.0;
    } else if (count_ == 1) {
        // The first rates: from the two samples.
        for (int i = 0; i < 3; ++i) {
            velocity_[i] = (sample.position[i] - position_[i]) / dt;
        }
        Quaternion turn;
        turnBetween(sample.rotation, rotation_, turn);
        vectorOf(turn, spin_);
        for (double& value : spin_) {
            value /= dt;
        }
        std::memcpy(position_, sample.position, sizeof position_);
        std::memcpy(rotation_, sample.rotation, sizeof rotation_);
        interval_ = dt;
    } else {
        // The fading-memory filter's gains for this step.
        const double theta = std::exp(-dt / kTimeConstant);
        const double gain = 1.0 - theta * theta;
        const double rateGain = (1.0 - theta) * (1.0 - theta) / dt;
        for (int i = 0; i < 3; ++i) {
            const double expected = position_[i] + velocity_[i] * dt;
            const double residual = sample.position[i] - expected;
            position_[i] = expected + gain * residual;
            velocity_[i] += rateGain * residual;
        }
        Vector step = {spin_[0] * dt, spin_[1] * dt, spin_[2] * dt};
        Quaternion turn;
        Quaternion expected;
        turnOf(step, turn);
        multiply(turn, rotation_, expected);
        Quaternion off;
        turnBetween(sample.rotation, expected, off);
        Vector residual;
        vectorOf(off, residual);
        Vector pull = {gain * residual[0], gain * residual[1], gain * residual[2]};
        turnOf(pull, turn);
        multiply(turn, expected, rotation_);
        normalise(rotation_);
        for (int i = 0; i < 3; ++i) {
            spin_[i] += rateGain * residual[i];
        }
        interval_ += 0.25 * (dt - interval_);
    }
    newest_ = count_ == 0 ? 0 : (newest_ + 1) % kKept;
    kept_[newest_] = sample;
    count_ = count_ < 0xFFFFFFFFu ? count_ + 1 : count_;

    predicted_ = horizon_ > 0.0 && count_ >= kFreshSamples;
    if (predicted_) {
        predict(out);
    } else {
        std::memcpy(out, measured, sizeof(Pose));
    }
    return predicted_;
}

const PosePredictor::Sample& PosePredictor::horizonBefore() const
{
    const std::uint32_t kept = std::min(count_, kKept);
    const double wanted = kept_[newest_].time - horizon_;
    std::uint32_t at = newest_;
    for (std::uint32_t back = 1; back < kept; ++back) {
        at = (newest_ + kKept - back) % kKept;
        if (kept_[at].time <= wanted) {
            break;
        }
    }
    return kept_[at];
}

void PosePredictor::predict(Pose& out) const
{
    // How far the sensor went over the last horizon's time: the farthest
    // the prediction reaches.
    const Sample& newest = kept_[newest_];
    const Sample& before = horizonBefore();
    const double span = newest.time - before.time;
    const double scale = span > 0.0 ? horizon_ / span : 0.0;
    Vector went = {newest.position[0] - before.position[0], newest.position[1] - before.position[1],
                   newest.position[2] - before.position[2]};
    Quaternion turned;
    turnBetween(newest.rotation, before.rotation, turned);
    Vector turnedVector;
    vectorOf(turned, turnedVector);

    Vector ahead = {velocity_[0] * horizon_, velocity_[1] * horizon_, velocity_[2] * horizon_};
    limit(ahead, length(went) * scale);
    Vector turnAhead = {spin_[0] * horizon_, spin_[1] * horizon_, spin_[2] * horizon_};
    limit(turnAhead, length(turnedVector) * scale);

    for (int i = 0; i < 3; ++i) {
        out[i] = published(position_[i] + ahead[i]);
    }
    Quaternion turn;
    Quaternion rotation;
    turnOf(turnAhead, turn);
    multiply(turn, rotation_, rotation);
    normalise(rotation);
    double angles[3];
    orientationAngles(rotation, angles[0], angles[1], angles[2]);
    for (int i = 0; i < 3; ++i) {
        out[3 + i] = published(angles[i]);
    }
}

bool PosePredictor::settle(double now)
{
    if (!predicted_ || count_ == 0) {
        return false;
    }
    const double limit = std::max(3.0 * interval_, 0.005);
    if (now - kept_[newest_].time <= limit) {
        return false;
    }
    predicted_ = false;
    return true;
}

}  // namespace host
