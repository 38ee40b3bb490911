// Prediction (--predict, a device's predict line): orientations extrapolated
// through quaternions, so that no Euler angle's wrap leads them astray; a
// sensor that stops is not overshot by more than its unpredicted error and
// is published at rest as measured; and no prediction across a gap in the
// stream (a silence, a reconnection): the poses after it are published as
// measured, marked so, until enough fresh samples have come, in the lines
// and in the shared storages alike.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "FlockSimulator.h"
#include "host/PosePredictor.h"
#include "host/publish/PoseForm.h"
#include "kit/HostProcess.h"
#include "kit/HostProgram.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"

namespace {

using Json = nlohmann::json;
constexpr double kPi = 3.14159265358979323846;

// The turn between two orientations given as published angles, in degrees.
double degreesBetween(const std::int32_t (&a)[6], const std::int32_t (&b)[6])
{
    double qa[4];
    double qb[4];
    host::orientationQuaternion(a[3] / 1e5, a[4] / 1e5, a[5] / 1e5, qa);
    host::orientationQuaternion(b[3] / 1e5, b[4] / 1e5, b[5] / 1e5, qb);
    const double dot = std::fabs(qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3]);
    return 2.0 * std::acos(std::min(1.0, dot)) * 180.0 / kPi;
}

// The published angles of the orientation reached after turning at `rate`
// (degrees a second) about an axis of the output frame for `seconds` from
// the angles `start`.
void turned(const double (&start)[3], const double (&axis)[3], double rate, double seconds, std::int32_t (&pose)[6])
{
    double from[4];
    host::orientationQuaternion(start[0], start[1], start[2], from);
    const double half = rate * seconds * kPi / 360.0;
    const double turn[4] = {std::cos(half), axis[0] * std::sin(half), axis[1] * std::sin(half),
                            axis[2] * std::sin(half)};
    const double q[4] = {turn[0] * from[0] - turn[1] * from[1] - turn[2] * from[2] - turn[3] * from[3],
                         turn[0] * from[1] + turn[1] * from[0] + turn[2] * from[3] - turn[3] * from[2],
                         turn[0] * from[2] - turn[1] * from[3] + turn[2] * from[0] + turn[3] * from[1],
                         turn[0] * from[3] + turn[1] * from[2] - turn[2] * from[1] + turn[3] * from[0]};
    double angles[3];
    host::orientationAngles(q, angles[0], angles[1], angles[2]);
    for (int i = 0; i < 3; ++i) {
        pose[i] = 0;
        pose[3 + i] = static_cast<std::int32_t>(std::lround(angles[i] * 1e5));
    }
}

// A sensor turning steadily across azimuth 180 degrees, roll -180 degrees,
// and elevation 90 degrees (where azimuth and roll jump by 180 degrees):
// every prediction is the orientation a horizon ahead. Extrapolated as Euler
// angles, the wraps would throw them round by up to a whole turn.
TEST(PosePrediction, OrientationsAreExtrapolatedThroughQuaternionsAcrossEveryWrap)
{
    const struct {
        const char* what;
        double start[3];  // azimuth, elevation, roll
        double axis[3];
        double rate;      // degrees a second
    } turns[] = {
        {"azimuth across 180", {150.0, 10.0, 20.0}, {0.0, 1.0, 0.0}, 90.0},
        {"roll across -180", {0.0, 0.0, -150.0}, {0.0, 0.0, 1.0}, -120.0},
        {"elevation through 90", {30.0, 60.0, 0.0}, {std::cos(30.0 * kPi / 180.0), 0.0, -std::sin(30.0 * kPi / 180.0)},
         -90.0},
    };
    constexpr double kHorizon = 0.025;
    constexpr double kPeriod = 0.01;  // 100 samples a second
    for (const auto& turn : turns) {
        host::PosePredictor predictor;
        predictor.configure(kHorizon, host::PosePredictor::kLongestGap);
        double worst = 0.0;
        int predicted = 0;
        for (int k = 0; k < 80; ++k) {
            const double t = k * kPeriod;
            std::int32_t measured[6];
            std::int32_t truth[6];
            std::int32_t out[6];
            turned(turn.start, turn.axis, turn.rate, t, measured);
            turned(turn.start, turn.axis, turn.rate, t + kHorizon, truth);
            if (predictor.take(measured, 100.0 + t, out)) {
                ++predicted;
                worst = std::max(worst, degreesBetween(out, truth));
                // The angles within their ranges.
                EXPECT_TRUE(out[3] > -18000000 && out[3] <= 18000000 && out[5] > -18000000 && out[5] <= 18000000 &&
                            out[4] >= -9000000 && out[4] <= 9000000)
                    << turn.what << ": " << out[3] << " " << out[4] << " " << out[5];
            }
        }
        EXPECT_EQ(predicted, 80 - static_cast<int>(host::PosePredictor::kFreshSamples) + 1) << turn.what;
        EXPECT_LT(worst, 0.05) << turn.what << ": degrees from the orientation a horizon ahead";
    }
}

// A sensor moving at 3 feet a second along x, 823 samples a second with
// noise, stops at once; its samples go on (the noise changes them). No
// prediction goes past the rest position by more than the unpredicted
// error: the distance the sensor went in a horizon and a sample's time, and
// the noise. (The filter alone keeps some of its speed for a while after
// the stop: 10 ms ahead, it went 30 % further than a horizon's distance,
// past that bound.)
TEST(PosePrediction, ASensorThatStopsWhileItsSamplesGoOnIsNotOvershot)
{
    constexpr double kPeriod = 1.0 / 823.0;
    constexpr double kSpeed = 3.0;  // feet a second
    constexpr double kStop = 1.0;   // seconds
    constexpr double kNoise = 0.004;  // feet, at most
    for (double horizon : {0.010, 0.020, 0.040}) {
        host::PosePredictor predictor;
        predictor.configure(horizon, host::PosePredictor::kLongestGap);
        double overshoot = 0.0;
        std::uint32_t noise = 12345;
        for (int k = 0; k * kPeriod < 2.0 * kStop; ++k) {
            const double t = k * kPeriod;
            noise = noise * 1103515245u + 12345u;
            const double jitter = kNoise * (static_cast<double>((noise >> 8) % 2001) / 1000.0 - 1.0);
            std::int32_t measured[6] = {};
            std::int32_t out[6];
            measured[0] = static_cast<std::int32_t>(std::lround((kSpeed * std::min(t, kStop) + jitter) * 1e5));
            predictor.take(measured, 10.0 + t, out);
            overshoot = std::max(overshoot, out[0] / 1e5 - kSpeed * kStop);
        }
        EXPECT_LE(overshoot, kSpeed * (horizon + kPeriod) + kNoise) << "feet, horizon " << horizon;
    }
}

// A flock of an ERC and two sensors, their records at `rate` cycles a
// second, on a stable link name.
struct Flock {
    Flock(double rate, flocksim::Motion motion) : simulator(setup(rate, std::move(motion), marker.path() + ".line"))
    {
        std::string problem;
        started = simulator.start(problem);
        EXPECT_TRUE(started) << problem;
    }
    static flocksim::Setup setup(double rate, flocksim::Motion motion, const std::string& link)
    {
        flocksim::Setup flock = flocksim::Setup::flock(3, 1);
        flock.rate = rate;
        flock.motion = std::move(motion);
        flock.linkPath = link;
        return flock;
    }
    std::string config() const
    {
        return "device flock \"" + kit::modulePath() + "\" 2\n  port " + simulator.linePath() + "\n";
    }
    kit::TempFile marker{""};
    flocksim::FlockSimulator simulator;
    bool started = false;
};

// The tracker lines of one output tracker, in order.
std::vector<Json> trackerLines(const std::vector<std::string>& lines, int tracker)
{
    std::vector<Json> found;
    for (const std::string& line : lines) {
        const Json json = Json::parse(line);
        if (json.contains("tracker") && json["tracker"] == tracker) {
            found.push_back(json);
        }
    }
    return found;
}

// A word of the record as the module publishes it: x in feet, azimuth in
// degrees (negated: the CAVE convention).
double feetOf(double word)
{
    return word / 32767.0 * 12.0;
}

double azimuthOf(double word)
{
    return -word / 32767.0 * 180.0;
}

// Two sensors move along x and turn in azimuth at 250 cycles a second, then
// stop at once; the second with noise of the flock's own. Predicted 40 ms
// ahead: no pose goes past the rest pose by more than the sensor went in a
// horizon and a record's time (the unpredicted error: the pose as measured,
// a record's time on the line old, against the truth a horizon ahead), the
// noisy one comes to rest within its noise, and the clean one, whose
// samples stop (the module publishes changes only), is published once more
// as measured, at its rest pose.
TEST(PosePrediction, ASensorThatStopsIsNotOvershotAndIsPublishedAtRestAsMeasured)
{
    constexpr double kRate = 250.0;
    constexpr std::uint64_t kStop = 300;    // cycles of motion
    constexpr int kStep = 48;               // x's words a cycle
    constexpr int kTurn = 24;               // azimuth's words a cycle
    constexpr int kNoise = 12;              // the noise's largest words
    const auto jitter = [](std::uint64_t cycle, int salt) {
        const std::uint64_t hash = (cycle * 2654435761u + static_cast<std::uint64_t>(salt) * 40503u) >> 7;
        return 4 * (static_cast<int>(hash % 7) - 3);
    };
    Flock flock(kRate, [&](std::uint32_t address, std::uint64_t cycle) {
        const int moved = static_cast<int>(std::min(cycle, kStop));
        const bool noisy = address == 3;
        flocksim::Sample sample;
        sample.words[0] = static_cast<std::int16_t>(-16384 + kStep * moved + (noisy ? jitter(cycle, 1) : 0));
        sample.words[1] = static_cast<std::int16_t>(noisy ? 4096 : 0);
        sample.words[3] = static_cast<std::int16_t>(-8192 + kTurn * moved + (noisy ? jitter(cycle, 2) : 0));
        return sample;
    });
    ASSERT_TRUE(flock.started);
    kit::HostProcess host(flock.config(), {"--predict", "40", "--duration", "5"});
    ASSERT_TRUE(host.started());
    ASSERT_EQ(host.wait(), 0) << host.err();

    const double horizon = 0.040;
    const double restX = feetOf(-16384 + kStep * static_cast<double>(kStop));
    const double restAzimuth = azimuthOf(-8192 + kTurn * static_cast<double>(kStop));
    for (int tracker : {1, 2}) {
        const bool noisy = tracker == 2;
        const std::vector<Json> lines = trackerLines(host.out(), tracker);
        ASSERT_GT(lines.size(), 250u) << tracker;
        // Beyond the rest pose, in the direction of the motion.
        const double noiseX = noisy ? feetOf(kNoise) : 0.0;
        const double noiseAzimuth = noisy ? -azimuthOf(kNoise) : 0.0;
        const double unpredictedX = feetOf(kStep) * kRate * (horizon + 1.0 / kRate);
        const double unpredictedAzimuth = -azimuthOf(kTurn) * kRate * (horizon + 1.0 / kRate);
        double overshootX = 0.0;
        double overshootAzimuth = 0.0;
        int predicted = 0;
        for (const Json& line : lines) {
            overshootX = std::max(overshootX, line["x"].get<double>() - restX);
            overshootAzimuth = std::max(overshootAzimuth, restAzimuth - line["azimuth"].get<double>());
            predicted += line["predicted"].get<bool>() ? 1 : 0;
        }
        EXPECT_GT(predicted, 200) << tracker;
        EXPECT_LE(overshootX, unpredictedX + noiseX + 2e-5) << tracker << ": feet past the rest pose";
        EXPECT_LE(overshootAzimuth, unpredictedAzimuth + noiseAzimuth + 2e-5)
            << tracker << ": degrees past the rest pose";
        if (noisy) {
            // At rest for the last 0.4 s: within three times the noise (an
            // extrapolation from the last two samples alone, without the
            // filter, would be up to twenty times off: the horizon is ten
            // samples' time).
            double offX = 0.0;
            double offAzimuth = 0.0;
            for (std::size_t i = lines.size() - 100; i < lines.size(); ++i) {
                offX = std::max(offX, std::fabs(lines[i]["x"].get<double>() - restX));
                offAzimuth = std::max(offAzimuth, std::fabs(lines[i]["azimuth"].get<double>() - restAzimuth));
            }
            EXPECT_LE(offX, 3.0 * noiseX) << "feet from the rest pose, at rest";
            EXPECT_LE(offAzimuth, 3.0 * noiseAzimuth) << "degrees from the rest pose, at rest";
        } else {
            EXPECT_EQ(lines.back()["predicted"], false) << lines.back().dump();
            EXPECT_NEAR(lines.back()["x"].get<double>(), restX, 2e-5);
            EXPECT_NEAR(lines.back()["azimuth"].get<double>(), restAzimuth, 2e-5);
        }
    }
}

// Every run of samples after a gap: the pose as measured, marked so, for the
// first samples; then predicted again. `gaps` counts the runs after the
// first.
void expectFreshRuns(const std::vector<Json>& lines, int& gaps)
{
    gaps = 0;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double time = lines[i]["time"].get<double>();
        if (i > 0 && time - lines[i - 1]["time"].get<double>() > host::PosePredictor::kLongestGap) {
            ++gaps;
            runStart = i;
        }
        const std::size_t inRun = i - runStart;
        if (inRun + 1 < host::PosePredictor::kFreshSamples) {
            EXPECT_EQ(lines[i]["predicted"], false) << "sample " << inRun + 1 << " of a run: " << lines[i].dump();
        } else if (inRun + 1 == host::PosePredictor::kFreshSamples) {
            EXPECT_EQ(lines[i]["predicted"], true) << lines[i].dump();
        }
    }
}

// The demo's circle, predicted 20 ms ahead, through a silence of 1.2 s and
// a line that closes and comes back (the device is brought up again): after
// each, the first samples are published as measured, marked not predicted,
// in the lines and in the shared storages (which watch reads and shows as
// the lines do).
TEST(PosePrediction, NoPredictionAcrossASilenceOrAReconnection)
{
    Flock flock(100.0, flocksim::circleMotion(0.5, 200));
    ASSERT_TRUE(flock.started);
    kit::TempFile marker("");
    const std::string block = kit::blockName(marker.path());
    kit::HostProcess host(flock.config(), {"--predict", "20", "--silence", "0.5", "--reconnect-after", "60",
                                           "--shm", block});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(host.waitForLine("\"predicted\":true", 20.0)) << host.err();
    kit::HostProcess watch({"watch", block, "--format", "jsonl"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    flock.simulator.hangUpNow(flocksim::HangUp::Silence, std::chrono::milliseconds(1200));
    ASSERT_TRUE(host.waitForLine("\"status\":\"silent\"", 5.0));
    ASSERT_TRUE(host.waitForLine("\"status\":\"ok\"", 5.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    flock.simulator.hangUpNow(flocksim::HangUp::Close, std::chrono::milliseconds(1000));
    ASSERT_TRUE(host.waitForLine("\"status\":\"reconnecting\"", 5.0));
    std::this_thread::sleep_for(std::chrono::seconds(4));
    host.signal(SIGTERM);
    ASSERT_EQ(host.wait(), 0) << host.err();
    ASSERT_EQ(watch.wait(), 0) << watch.err();
    ASSERT_EQ(host.said("ok again").size(), 2u) << host.err();

    for (int tracker : {1, 2}) {
        const std::vector<Json> lines = trackerLines(host.out(), tracker);
        int gaps = 0;
        expectFreshRuns(lines, gaps);
        EXPECT_EQ(gaps, 2) << tracker;
        // The last run was predicted again.
        EXPECT_EQ(lines.back()["predicted"], true) << tracker;
        // The shared storages carried the same poses and marks.
        const std::vector<Json> watched = trackerLines(watch.out(), tracker);
        ASSERT_FALSE(watched.empty());
        std::size_t first = 0;
        while (first < lines.size() && lines[first] != watched.front()) {
            ++first;
        }
        ASSERT_LT(first, lines.size()) << "watch's first line is none of the host's: " << watched.front().dump();
        EXPECT_EQ(std::vector<Json>(lines.begin() + static_cast<long>(first), lines.end()), watched) << tracker;
    }
}

}  // namespace
