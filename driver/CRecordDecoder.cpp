#include "driver/CRecordDecoder.h"

#include <cstdint>
#include <cstring>

#include "controller/CConCommonH.h"
#include "driver/CDeviceOptions.h"
#include "driver/CRecordAssembler.h"
#include "driver/CRecordLengths.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"
#include "tracker/SampleTransform.h"

namespace {

std::int32_t toFixedPoint(float value)
{
    const double scaled = static_cast<double>(value) * 100000.0;
    if (scaled != scaled) {
        return 0;  // not a number: a calibration library's or a placement's fault
    }
    if (scaled >= 2147483647.0) {
        return INT32_MAX;
    }
    if (scaled <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(scaled);
}

}  // namespace

CRecordDecoder::CRecordDecoder(const CDeviceOptions& options) : options(options)
{
    resetTrackerData(currentTracker);
    resetControllerData(currentController);
}

void CRecordDecoder::setLayers(CTraCommonH* trackers, CConCommonH* controllers)
{
    trackerLayer = trackers;
    controllerLayer = controllers;
}

std::uint32_t CRecordDecoder::trackerOutputId(std::uint32_t address) const
{
    const TrackerMap* map = trackerLayer != nullptr ? trackerLayer->getTrackerMap(address) : nullptr;
    return map != nullptr ? map->outputId : 0;
}

std::uint32_t CRecordDecoder::controllerOutputId(std::uint32_t address) const
{
    const ControllerMap* map = controllerLayer != nullptr ? controllerLayer->controllerMap(address) : nullptr;
    return map != nullptr ? map->outputId : 0;
}

CRecordDecoder::Verdict CRecordDecoder::screen(CRecordAssembler& assembler, CRecordLengths& lengths) const
{
    const std::uint32_t address = assembler.address();
    if (address > options.busDeviceCount) {
        assembler.dropBroken();  // no unit sends from beyond the bus
        return Verdict::Skip;
    }
    if (!recordIsValid(address)) {
        assembler.next();
        return Verdict::Skip;
    }
    if (!lengths.accept(address, assembler.record(), assembler.length())) {
        assembler.dropBroken();
        return Verdict::ReadOn;
    }
    if (!assembler.trusted()) {
        assembler.next();
        return Verdict::ReadOn;
    }
    return Verdict::Publish;
}

bool CRecordDecoder::recordIsValid(std::uint32_t address) const
{
    if (address > options.busDeviceCount) {
        return false;
    }
    const std::uint32_t trackerId = trackerOutputId(address);
    if (trackerId == 0 || trackerId > 32) {
        return false;
    }
    if (options.mouseFlags[address - 1] != 0) {
        const std::uint32_t controllerId = controllerOutputId(address);
        if (controllerId == 0 || controllerId > 32) {
            return false;
        }
    }
    return true;
}

bool CRecordDecoder::decodeRecord(std::uint32_t address, const std::uint8_t* record, std::uint32_t length)
{
    const TrackerMap* map = trackerLayer != nullptr ? trackerLayer->getTrackerMap(address) : nullptr;
    if (map == nullptr || address > options.busDeviceCount) {
        return false;
    }
    TrackerPose pose{};
    float* values = &pose.x;
    for (std::uint32_t i = 0; i < 6; ++i) {
        values[i] = wordToFraction(record[2 * i + 1], record[2 * i]);
    }
    pose.x *= 12.0f;
    pose.y *= 12.0f;
    pose.z *= 12.0f;
    pose.azimuth *= 180.0f;
    pose.elevation *= 180.0f;
    pose.roll *= 180.0f;
    if (trackerLayer->caveCoordinates) {
        pose.azimuth = -pose.azimuth;
        pose.roll = -pose.roll;
    }
    if (options.srtId != 0) {
        const float scale = options.scalingCode == 2 ? 0.5f : 0.25f;
        pose.x *= scale;
        pose.y *= scale;
        pose.z *= scale;
    }

    TimeRecord time{};
    sampleClock.now(time);
    currentTracker.timeRecord = time;
    currentTracker.sampleSeconds = toNetwork32(time.seconds);
    currentTracker.sampleMicroseconds = toNetwork32(std::uint32_t{time.milliseconds} * 1000u);
    const std::uint32_t trackerId = map->outputId + trackerLayer->outputOffset;
    if (trackerId >= 1 && trackerId <= 32) {
        currentTracker.storageIndex = toNetwork32(trackerId);
    }

    CCalibH* calibration = trackerLayer->getCalibLibrary();
    if (calibration != nullptr && !calibration->callEvaluate(&pose)) {
        return false;
    }
    trackerLayer->transformPose(*map, pose);
    for (std::uint32_t i = 0; i < 6; ++i) {
        const auto fixed = static_cast<std::uint32_t>(toFixedPoint(values[i]));
        currentTracker.pose[i] = static_cast<std::int32_t>(toNetwork32(fixed));
    }

    if (options.mouseFlags[address - 1] != 0 && controllerLayer != nullptr) {
        currentController.timeRecord = time;
        currentController.sampleSeconds = currentTracker.sampleSeconds;
        currentController.sampleMicroseconds = currentTracker.sampleMicroseconds;
        const std::uint8_t buttonByte = length == 14 ? record[12] : 0;
        // The record is shared by every mouse: no bit of another unit's
        // buttons may stay in it.
        std::memset(currentController.buttonBits, 0, sizeof currentController.buttonBits);
        controllerLayer->fillControllerRecord(address, buttonByte, currentController);
    }
    return true;
}
