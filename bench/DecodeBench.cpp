// Decoding of one record into a tracker sample, with and without a
// transmitter and sensor placement (no calibration library).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "common/CLogH.h"
#include "driver/CDeviceOptions.h"
#include "driver/CRecordDecoder.h"
#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "kit/TrackerLayer.h"

namespace {

// The device's decoder with the options and the tracker layer as init sets
// them up for an ERC and two receivers.
void decode(benchmark::State& state, const char* placement)
{
    kit::ConfigText config(std::string("Vantrel\n") + placement);
    const CLogH log(kit::plainLogSettings("Bench"));
    CDeviceOptions options;
    std::int32_t dataKind = 2;
    std::unique_ptr<CTraCommonH> trackers = kit::makeTrackerLayer(log, 3, 1);
    {
        kit::StdoutCapture quiet;
        options.parseDeviceLine(*config.block(), log);
        options.setDefaults();
        if (!options.parseOptions(*config.block(), log, dataKind) || !trackers->parseOptions(config.block())) {
            state.SkipWithError("options refused");
            return;
        }
    }
    CRecordDecoder decoder(options);
    decoder.setLayers(trackers.get(), nullptr);
    // A record of unit 2 (phasing bit cleared, as the assembler holds it)
    // whose words change from sample to sample.
    std::uint8_t record[13] = {0x00, 0x12, 0x34, 0x05, 0x06, 0x07, 0x08, 0x10, 0x11, 0x12, 0x13, 0x14, 0x02};
    std::uint8_t step = 0;
    for (auto _ : state) {
        record[1] = static_cast<std::uint8_t>(step & 0x7F);
        benchmark::DoNotOptimize(decoder.decodeRecord(2, record, sizeof record));
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
