// Decoding of one record into a tracker sample, with and without a
// transmitter and sensor placement (no calibration library).
#include <benchmark/benchmark.h>

#include <string>

#include "FlockSimulator.h"
#include "kit/DeviceHost.h"
#include "kit/StdoutCapture.h"

namespace {

void decode(benchmark::State& state, const char* placement)
{
    flocksim::FlockSimulator flock(flocksim::Setup::flock(3, 1));
    std::string problem;
    if (!flock.start(problem)) {
        state.SkipWithError(problem.c_str());
        return;
    }
    kit::DeviceHost host("Vantrel\nport " + flock.linePath() + "\n" + placement);
    {
        kit::StdoutCapture quiet;
        if (host.init() != 1) {
            state.SkipWithError("init failed");
            return;
        }
    }
    // A record of unit 2 whose words change from sample to sample.
    std::uint8_t record[13] = {0x80, 0x12, 0x34, 0x05, 0x06, 0x07, 0x08, 0x10, 0x11, 0x12, 0x13, 0x14, 0x02};
    std::uint8_t step = 0;
    for (auto _ : state) {
        record[1] = static_cast<std::uint8_t>(step & 0x7F);
        host.device().setRecord(record, sizeof record);
        benchmark::DoNotOptimize(host.device().decodeRecord(2));
        ++step;
    }
    state.SetItemsProcessed(state.iterations());
}

void decodeOnly(benchmark::State& state)
{
    decode(state, "");
}

void decodeWithPlacement(benchmark::State& state)
{
    decode(state,
           "transmitterrotation 0 0 1 90\ntransmitteroffset 1 2 3\nsensoroffset 2 0 0 3 inches\n"
           "sensorrotation 2 1 1 0 30\nsensortranslation 2 0.5 0 -0.5\n");
}

}  // namespace

BENCHMARK(decodeOnly);
BENCHMARK(decodeWithPlacement);
