// Fuzz target: arbitrary bytes of the line through the record assembler, the
// units' record lengths and the record decoder (records the device would drop
// are dropped) into real storages guarded by real mutexes, with the device's
// options and layers set up as init sets them up. The first byte chooses the
// configuration (kit/StreamSetup.h), the rest is the line.
//
// Checked on every record: a record the assembler hands out is 13 or 14
// bytes long and ends in a nonzero address byte; a decoded sample carries an
// output number within the storage; without a placement its position lies
// within the full scale (12 feet, less with an SRT) and its angles within
// 180 degrees.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/CLogH.h"
#include "common/DataRecords.h"
#include "controller/CConCommonH.h"
#include "driver/CDeviceOptions.h"
#include "driver/CRecordAssembler.h"
#include "driver/CRecordDecoder.h"
#include "driver/CRecordLengths.h"
#include "kit/FuzzConfig.h"
#include "kit/HostStorage.h"
#include "kit/QuietOutput.h"
#include "kit/StreamSetup.h"
#include "tracker/CTraCommonH.h"

namespace {

void check(bool holds)
{
    if (!holds) {
        __builtin_trap();
    }
}

std::int32_t fixedValue(const TrackerData& sample, int index)
{
    return static_cast<std::int32_t>(fromNetwork32(static_cast<std::uint32_t>(sample.pose[index])));
}

// Copies a sample into the entry of its output number, under the storage's
// mutex, as the device publishes it.
template <typename Record>
void publish(CDataStorage& storage, Record* (CDataStorage::*entry)(std::uint32_t) const, const Record& sample)
{
    storage.lock();
    Record* target = (storage.*entry)(fromNetwork32(sample.storageIndex));
    check(target != nullptr);
    std::memcpy(target, &sample, sizeof sample);
    storage.unlock();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const fuzzkit::StreamSetup setup(data[0]);
    const std::string text = setup.configText("fuzz-line");
    fuzzkit::FuzzConfig config(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());

    const CLogH log(kit::plainLogSettings("Fuzz"));
    CDeviceOptions options;
    std::int32_t dataKind = 2;
    check(options.parseDeviceLine(*config.block(), log));
    options.setDefaults();
    check(options.parseOptions(*config.block(), log, dataKind));

    kit::HostStorage trackers(kit::HostStorage::Kind::Tracker);
    kit::HostStorage controllers(kit::HostStorage::Kind::Controller);
    CTraCommonH trackerLayer(&log);
    trackerLayer.fixedOrder = true;
    trackerLayer.maxOutputTrackers = options.unitCount;
    trackerLayer.caveCoordinates = true;
    trackerLayer.setUp(options.busDeviceCount);
    std::uint32_t outputId = 1;
    for (std::uint32_t address = 1; address <= options.busDeviceCount; ++address) {
        if (address != options.ercId) {
            trackerLayer.setTracker(address, outputId++, nullptr, nullptr, nullptr);
        }
    }
    check(trackerLayer.parseOptions(config.block()));
    check(trackers.storage()->setTrackerDataCount(trackerLayer.maxOutputTrackers));
    std::unique_ptr<CConCommonH> controllerLayer;
    if (options.mouseCount > 0) {
        controllerLayer = std::make_unique<CConCommonH>(&log);
        controllerLayer->maxOutputControllers = options.mouseCount;
        controllerLayer->setUp(options.busDeviceCount, true);
        controllerLayer->setController(2, 1, 0, 3);
        check(controllers.storage()->setControllerDataCount(options.mouseCount));
    }

    CRecordAssembler assembler;
    CRecordLengths lengths;
    lengths.reset(options);
    CRecordDecoder decoder(options);
    decoder.setLayers(&trackerLayer, controllerLayer.get());
    const float feet = setup.srt ? (setup.longRange ? 6.0f : 3.0f) : 12.0f;
    for (std::size_t i = 1; i < size; ++i) {
        if (!assembler.add(data[i])) {
            continue;
        }
        const std::uint32_t address = assembler.address();
        check(assembler.length() == 13 || assembler.length() == 14);
        check(address >= 1 && address <= 0x7F);  // seven bits of a byte that is not a phasing byte
        // What the device cannot publish is dropped before decoding, as in
        // recvData.
        if (decoder.screen(assembler, lengths) != CRecordDecoder::Verdict::Publish) {
            continue;
        }
        if (decoder.decodeRecord(address, assembler.record(), assembler.length())) {
            const TrackerData& sample = decoder.tracker();
            const std::uint32_t id = fromNetwork32(sample.storageIndex);
            check(id >= 1 && id <= trackers.count());
            if (!setup.placement) {
                for (int k = 0; k < 3; ++k) {
                    check(static_cast<float>(std::abs(fixedValue(sample, k))) <= feet * 100000.0f + 1.0f);
                    check(std::abs(fixedValue(sample, 3 + k)) <= 18000000);
                }
            }
            publish(*trackers.storage(), &CDataStorage::trackerEntry, sample);
            if (controllerLayer && address == 2) {
                publish(*controllers.storage(), &CDataStorage::controllerEntry, decoder.controller());
            }
        }
        assembler.next();
    }
    return 0;
}
