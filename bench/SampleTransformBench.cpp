// One full placement per sample: a transmitter with rotation and offset, a
// sensor with offset, rotation and translation.
#include <benchmark/benchmark.h>

#include "tracker/Matrix4.h"
#include "tracker/SampleTransform.h"
#include "vantrel/TrackerPose.h"

namespace {

void fullTransform(benchmark::State& state)
{
    const Matrix4 transmitter = composeTransform(axisAngleMatrix(0.0f, 0.0f, 1.0f, 90.0f), offsetMatrix(1.0f, 2.0f, 3.0f));
    const Matrix4 sensor = composeTransform(axisAngleMatrix(1.0f, 1.0f, 0.0f, 30.0f), offsetMatrix(0.0f, 0.0f, 0.25f));
    const float translation[3] = {0.5f, 0.0f, -0.5f};
    // Inputs vary a little from sample to sample, as decoded poses do.
    float step = 0.0f;
    for (auto _ : state) {
        TrackerPose pose{1.0f + step, -2.0f, 0.5f, 30.0f + step, -10.0f, 170.0f - step};
        applyTransform(pose, &transmitter, &sensor, translation);
        benchmark::DoNotOptimize(pose);
        step = step < 1.0f ? step + 0.001f : 0.0f;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(fullTransform);
