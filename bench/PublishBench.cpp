// The host's publication of one received record: an OSC bundle sent over
// loopback UDP to a receiver that liblo binds (and that the bench empties
// outside the timed part), the append to the shared storages' journal, and
// the prediction of one tracker's pose (--predict).
// The bundles go back to back, or paced as one unit's records come at 823
// records/s (1.215 ms apart: each send then finds cold caches, as in the
// host).
#include <benchmark/benchmark.h>

#include <lo/lo.h>
#include <sys/socket.h>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "host/PosePredictor.h"
#include "host/publish/OscPublisher.h"
#include "host/publish/SharedStorages.h"
#include "common/DataRecords.h"

namespace {

TrackerData trackerRecord()
{
    TrackerData record{};
    record.storageIndex = toNetwork32(1);
    record.sampleSeconds = toNetwork32(1700000000);
    record.sampleMicroseconds = toNetwork32(250000);
    for (int i = 0; i < 6; ++i) {
        record.pose[i] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(123456 * (i + 1))));
    }
    return record;
}

ControllerData controllerRecord()
{
    ControllerData record{};
    record.storageIndex = toNetwork32(1);
    record.buttonCount = toNetwork32(3);
    record.buttonBits[0] = 5;
    record.buttonBytes = 4;
    return record;
}

void oscPublish(benchmark::State& state, bool withController, int gapMicroseconds)
{
    lo_server receiver = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    if (receiver == nullptr) {
        state.SkipWithError("no UDP port for the receiver");
        return;
    }
    OscPublisher publisher;
    std::string error;
    if (!publisher.open("127.0.0.1:" + std::to_string(lo_server_get_port(receiver)), 0, error)) {
        state.SkipWithError(error.c_str());
        lo_server_free(receiver);
        return;
    }
    publisher.addDevice("flock", 1, 1, 1, 1);
    TrackerData tracker = trackerRecord();
    const ControllerData controller = controllerRecord();
    char drain[2048];
    std::int64_t pending = 0;
    for (auto _ : state) {
        tracker.pose[0] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(pending)));
        publisher.record(0, &tracker, withController ? &controller : nullptr);
        if (gapMicroseconds > 0) {
            state.PauseTiming();
            std::this_thread::sleep_for(std::chrono::microseconds(gapMicroseconds));
            state.ResumeTiming();
        }
        if (++pending == 64) {
            state.PauseTiming();
            while (::recv(lo_server_get_socket_fd(receiver), drain, sizeof drain, MSG_DONTWAIT) > 0) {
            }
            pending = 0;
            state.ResumeTiming();
        }
    }
    state.counters["dropped"] = static_cast<double>(publisher.dropped());
    state.SetItemsProcessed(state.iterations());
    lo_server_free(receiver);
}

void journalAppend(benchmark::State& state)
{
    SharedStorages shared;
    std::string error;
    if (!shared.create("vantrel-bench", SharedStorages::kDefaultMode, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const TrackerData tracker = trackerRecord();
    for (auto _ : state) {
        shared.record(0, &tracker, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(oscPublish, tracker, false, 0);
BENCHMARK_CAPTURE(oscPublish, trackerAndController, true, 0);
BENCHMARK_CAPTURE(oscPublish, trackerPacedAt823PerSecond, false, 1215)->Iterations(4000);
BENCHMARK(journalAppend);

// One sample of a sensor moving on all six axes, 823 samples a second,
// through the predictor of a 20 ms horizon.
void predictPose(benchmark::State& state)
{
    host::PosePredictor predictor;
    predictor.configure(0.020, host::PosePredictor::kLongestGap);
    std::uint64_t n = 0;
    host::PosePredictor::Pose out;
    for (auto _ : state) {
        const double time = static_cast<double>(n) / 823.0;
        const double phase = time * 2.0;
        host::PosePredictor::Pose measured = {
            static_cast<std::int32_t>(300000.0 * std::sin(phase)), static_cast<std::int32_t>(200000.0 * std::cos(phase)),
            static_cast<std::int32_t>(100000.0 * std::sin(2.0 * phase)),
            static_cast<std::int32_t>(17000000.0 * std::sin(phase)), static_cast<std::int32_t>(4000000.0 * std::cos(phase)),
            static_cast<std::int32_t>(9000000.0 * std::sin(3.0 * phase))};
        benchmark::DoNotOptimize(predictor.take(measured, time, out));
        benchmark::DoNotOptimize(out);
        ++n;
    }
}
BENCHMARK(predictPose);
