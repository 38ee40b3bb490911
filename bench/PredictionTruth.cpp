// Prediction measured against the truth: the flock simulator knows its
// motion exactly, so every pose the host publishes is compared with the
// sensor's true pose at the moment of publication plus the horizon, with
// prediction off and on (--predict), for each horizon.
//
// The simulator runs in this process with the demo's flock (an ERC and two
// sensors at 100 cycles a second, a mouse on the first) and a motion by name:
// any of flocksim's (--motion NAME, as `flocksim --help` lists them), or
// this bench's own `sixaxis` (a figure of eight in x and y, a slow rise and
// fall in z, the azimuth turning round and round across +-180 degrees,
// elevation and roll swinging). Its noise option (--pose-noise P,A) adds
// measurement noise to the records; the truth is the motion without it.
// vantrel-host runs in a process of its own on the simulator's line with
// --shm; a reader of the shared storages in this process takes every
// published sample as the host wakes it, the moment it sees it standing for
// the moment of publication (tens of microseconds later; see
// bench/latency.sh).
//
// The true pose at a moment: the motion of the cycle whose record the
// simulator made last before it, moved on towards the next cycle's in
// proportion to the time (position in a straight line, orientation by the
// shortest turn between the two); the motion's words are the line's, 14
// bits of full scale (0.018 inch, 0.022 degrees).
//
// Usage: vantrel_prediction [--motion NAME] [--pose-noise P,A] [--seconds S] [--horizons MS,MS,...]
// Prints one Markdown table row per horizon: RMS and 99th percentile of the
// position error (inches) and of the angle error (degrees), off and on.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "FlockSimulator.h"
#include "HostChild.h"
#include "JournalFollower.h"
#include "host/publish/PoseForm.h"
#include "host/publish/SampleRecords.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPi = 3.14159265358979323846;

// The demo's flock (host/DemoFlock.cpp), its motion by name.
constexpr double kRate = 100.0;
const char* const kDemoFlock[] = {"--units", "3", "--mice", "2", "--rate", "100",
                                  "--buttons", "0x00:100,0x10:50,0x30:50,0x70:50"};

// The bench's own motion: every axis moves. Each sensor (bus address 2, 3)
// a quarter of the way further along.
flocksim::Sample sixAxes(std::uint32_t address, std::uint64_t cycle)
{
    const double t = static_cast<double>(cycle) / kRate + 1.3 * address;
    const double turn = 2.0 * kPi;
    flocksim::Sample sample;
    sample.words[0] = flocksim::wordFromFraction(0.35 * std::sin(turn * t / 4.0));
    sample.words[1] = flocksim::wordFromFraction(0.2 * std::sin(2.0 * turn * t / 4.0));
    sample.words[2] = flocksim::wordFromFraction(0.1 + 0.08 * std::sin(turn * t / 8.0));
    const double azimuth = std::fmod(t / 3.0, 2.0);  // a whole turn in 6 s
    sample.words[3] = flocksim::wordFromFraction(azimuth - 1.0);
    sample.words[4] = flocksim::wordFromFraction(0.25 * std::sin(turn * t / 5.0));
    sample.words[5] = flocksim::wordFromFraction(0.5 * std::sin(turn * t / 7.0));
    return sample;
}

// A pose as published: position in feet, orientation as a quaternion.
struct Pose {
    double position[3];
    double rotation[4];
};

// The module's published pose of a record's words (no placement; the CAVE
// convention negates azimuth and roll).
Pose poseOf(const flocksim::Sample& sample)
{
    Pose pose;
    for (int i = 0; i < 3; ++i) {
        pose.position[i] = sample.words[i] / 32767.0 * 12.0;
    }
    host::orientationQuaternion(-sample.words[3] / 32767.0 * 180.0, sample.words[4] / 32767.0 * 180.0,
                                -sample.words[5] / 32767.0 * 180.0, pose.rotation);
    return pose;
}

Pose publishedPose(const std::int32_t (&network)[6])
{
    std::int32_t pose[6];
    for (int i = 0; i < 6; ++i) {
        pose[i] = static_cast<std::int32_t>(host::fromNetworkOrder(static_cast<std::uint32_t>(network[i])));
    }
    Pose out;
    for (int i = 0; i < 3; ++i) {
        out.position[i] = pose[i] / 100000.0;
    }
    host::orientationQuaternion(pose[3] / 100000.0, pose[4] / 100000.0, pose[5] / 100000.0, out.rotation);
    return out;
}

// The turn between two orientations, degrees.
double degreesBetween(const double (&a)[4], const double (&b)[4])
{
    const double dot = std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]);
    return 2.0 * std::acos(std::min(1.0, dot)) * 180.0 / kPi;
}

// a, moved a fraction of the way to b.
Pose between(const Pose& a, const Pose& b, double fraction)
{
    Pose pose;
    for (int i = 0; i < 3; ++i) {
        pose.position[i] = a.position[i] + fraction * (b.position[i] - a.position[i]);
    }
    double dot = 0.0;
    for (int i = 0; i < 4; ++i) {
        dot += a.rotation[i] * b.rotation[i];
    }
    const double sign = dot < 0.0 ? -1.0 : 1.0;
    const double angle = std::acos(std::min(1.0, sign * dot));
    const double wa = angle > 1e-9 ? std::sin((1.0 - fraction) * angle) / std::sin(angle) : 1.0 - fraction;
    const double wb = angle > 1e-9 ? std::sin(fraction * angle) / std::sin(angle) : fraction;
    for (int i = 0; i < 4; ++i) {
        pose.rotation[i] = wa * a.rotation[i] + wb * sign * b.rotation[i];
    }
    return pose;
}

// The moments the simulator made each cycle's records, and the truth from
// them.
class Truth {
public:
    Truth(flocksim::Motion motion, std::size_t cycles) : motion_(std::move(motion)), made_(cycles) {}
    // On the simulator's thread, for each record it makes.
    flocksim::Sample make(std::uint32_t address, std::uint64_t cycle)
    {
        if (cycle < made_.size() && made_[cycle] == 0) {
            made_[cycle] = Clock::now().time_since_epoch().count();
            last_ = cycle;
        }
        return motion_(address, cycle);
    }
    // After the run: the pose of the sensor at `address` at `at`.
    Pose at(std::uint32_t address, Clock::rep at) const
    {
        // The last cycle made before the moment (made_ rises with the
        // cycles); beyond the last one made, on at the nominal rate.
        std::uint64_t cycle = 0;
        double fraction = 0.0;
        const auto end = made_.begin() + static_cast<long>(last_ + 1);
        const auto after = std::upper_bound(made_.begin(), end, at);
        const double period = 1e9 / kRate;
        if (after == made_.begin()) {
            fraction = 0.0;
        } else if (after == end) {
            const double beyond = static_cast<double>(at - made_[last_]) / period;
            cycle = last_ + static_cast<std::uint64_t>(beyond);
            fraction = beyond - std::floor(beyond);
        } else {
            cycle = static_cast<std::uint64_t>(after - made_.begin()) - 1;
            fraction = static_cast<double>(at - made_[cycle]) / static_cast<double>(*after - made_[cycle]);
        }
        return between(poseOf(motion_(address, cycle)), poseOf(motion_(address, cycle + 1)), fraction);
    }

private:
    flocksim::Motion motion_;
    std::vector<Clock::rep> made_;
    std::uint64_t last_ = 0;
};

struct Seen {
    std::uint32_t id;
    Pose pose;
    bool predicted;
    Clock::rep at;
};

struct Errors {
    double rmsPosition = 0.0;  // inches
    double p99Position = 0.0;
    double rmsAngle = 0.0;  // degrees
    double p99Angle = 0.0;
    std::size_t samples = 0;
    std::size_t predicted = 0;
};

double percentile99(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<std::size_t>(0.99 * static_cast<double>(values.size() - 1))];
}

// One run of the host (prediction `predict` ms; 0: off): what it published
// after the first second.
bool runHost(const std::vector<std::string>& flockOptions, const std::string& motionName, double predict,
             double seconds, std::vector<Seen>& seen, std::unique_ptr<Truth>& truth, std::string& error)
{
    flocksim::CommandLine line;
    std::vector<const char*> words(std::begin(kDemoFlock), std::end(kDemoFlock));
    for (const std::string& option : flockOptions) {
        words.push_back(option.c_str());
    }
    const bool own = motionName == "sixaxis";
    const std::string named = own ? "still" : motionName;
    words.push_back("--motion");
    words.push_back(named.c_str());
    if (!line.parse(static_cast<int>(words.size()), words.data(), error)) {
        return false;
    }
    flocksim::Setup setup;
    if (!line.buildSetup(setup, error)) {
        return false;
    }
    truth = std::make_unique<Truth>(own ? flocksim::Motion(sixAxes) : setup.motion,
                                    static_cast<std::size_t>((seconds + 60.0) * kRate));
    Truth* made = truth.get();
    setup.motion = [made](std::uint32_t address, std::uint64_t cycle) { return made->make(address, cycle); };
    flocksim::FlockSimulator flock(setup);
    if (!flock.start(error)) {
        return false;
    }
    const std::string block = "vantrel-prediction-" + std::to_string(::getpid());
    const std::string configuration = "device demo \"" + bench::HostChild::modulePath() + "\" 2\n  port \"" +
                                      flock.linePath() + "\"\n  mouse 2\n";
    std::vector<std::string> arguments{"--format", "jsonl", "--quiet", "--shm", block};
    if (predict > 0.0) {
        std::ostringstream horizon;
        horizon << predict;
        arguments.insert(arguments.end(), {"--predict", horizon.str()});
    }
    bench::HostChild host;
    if (!host.run(configuration, arguments, false, error)) {
        return false;
    }
    seen.clear();
    seen.reserve(static_cast<std::size_t>((seconds + 10.0) * kRate * 2));
    Clock::rep from = 0;
    std::string followError;
    bool followed = false;
    std::thread follower([&] {
        followed = bench::JournalFollower::follow(
            block, 30.0,
            [&](const SharedJournalSlot& slot, Clock::time_point at) {
                if (slot.kind != kSharedTrackerRecord) {
                    return;
                }
                if (from == 0) {
                    from = at.time_since_epoch().count() + 1000000000;  // a second to settle
                }
                if (at.time_since_epoch().count() >= from) {
                    seen.push_back({slot.entry, publishedPose(slot.record.tracker.pose),
                                    (slot.flags & kSharedPosePredicted) != 0, at.time_since_epoch().count()});
                }
            },
            followError);
    });
    // Configure takes about a second and a half; then a second to settle,
    // then the measured time.
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds + 3.0));
    const int status = host.stop();
    follower.join();
    flock.stop();
    if (status != 0 || !followed) {
        error = "the host ended with exit status " + std::to_string(status) + (followed ? "" : "; " + followError);
        return false;
    }
    return true;
}

// The published poses against the truth `horizon` seconds after they were
// seen.
Errors compare(const std::vector<Seen>& seen, const Truth& truth, double horizon)
{
    std::vector<double> positions;
    std::vector<double> angles;
    Errors errors;
    for (const Seen& sample : seen) {
        // Output tracker 1 is the sensor at bus address 2.
        const Pose true_ = truth.at(sample.id + 1, sample.at + static_cast<Clock::rep>(horizon * 1e9));
        double squared = 0.0;
        for (int i = 0; i < 3; ++i) {
            squared += (sample.pose.position[i] - true_.position[i]) * (sample.pose.position[i] - true_.position[i]);
        }
        positions.push_back(std::sqrt(squared) * 12.0);
        angles.push_back(degreesBetween(sample.pose.rotation, true_.rotation));
        errors.predicted += sample.predicted ? 1 : 0;
    }
    const auto rms = [](const std::vector<double>& values) {
        double sum = 0.0;
        for (double value : values) {
            sum += value * value;
        }
        return values.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(values.size()));
    };
    errors.samples = seen.size();
    errors.rmsPosition = rms(positions);
    errors.p99Position = percentile99(positions);
    errors.rmsAngle = rms(angles);
    errors.p99Angle = percentile99(angles);
    return errors;
}

std::vector<double> horizonsOf(const std::string& text)
{
    std::vector<double> horizons;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ',')) {
        horizons.push_back(std::atof(part.c_str()));
    }
    return horizons;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string motion = "demo";
    std::string noise;
    double seconds = 15.0;
    std::vector<double> horizons{10.0, 20.0, 40.0};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--motion") {
            motion = value;
        } else if (option == "--pose-noise") {
            noise = value;
        } else if (option == "--seconds") {
            seconds = std::atof(value.c_str());
        } else if (option == "--horizons") {
            horizons = horizonsOf(value);
        } else {
            std::fprintf(stderr,
                         "Usage: vantrel_prediction [--motion NAME] [--pose-noise P,A] [--seconds S] "
                         "[--horizons MS,MS,...]\n");
            return 2;
        }
    }
    std::vector<std::string> flockOptions;
    if (!noise.empty()) {
        flockOptions = {"--pose-noise", noise};
    }
    std::string error;
    std::vector<Seen> unpredicted;
    std::unique_ptr<Truth> unpredictedTruth;
    if (!runHost(flockOptions, motion, 0.0, seconds, unpredicted, unpredictedTruth, error)) {
        std::fprintf(stderr, "vantrel_prediction: %s\n", error.c_str());
        return 1;
    }
    const std::string noiseText = noise.empty() ? "none" : noise;
    for (double horizon : horizons) {
        std::vector<Seen> predicted;
        std::unique_ptr<Truth> truth;
        if (!runHost(flockOptions, motion, horizon, seconds, predicted, truth, error)) {
            std::fprintf(stderr, "vantrel_prediction: %s\n", error.c_str());
            return 1;
        }
        const Errors off = compare(unpredicted, *unpredictedTruth, horizon / 1000.0);
        const Errors on = compare(predicted, *truth, horizon / 1000.0);
        std::printf("| %s | %s | %.0f ms | %.2f / %.2f in | %.2f / %.2f in | %.2f / %.2f° | %.2f / %.2f° | %.1f, %.1f "
                    "| %zu (%zu predicted) |\n",
                    motion.c_str(), noiseText.c_str(), horizon, off.rmsPosition, off.p99Position, on.rmsPosition,
                    on.p99Position, off.rmsAngle, off.p99Angle, on.rmsAngle, on.p99Angle,
                    on.rmsPosition > 0.0 ? off.rmsPosition / on.rmsPosition : 0.0,
                    on.rmsAngle > 0.0 ? off.rmsAngle / on.rmsAngle : 0.0, on.samples, on.predicted);
        std::fflush(stdout);
    }
    return 0;
}
