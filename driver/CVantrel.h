#pragma once
// The device: a flock of tracker units on one bus behind one serial line.
#include <cstdint>

#include "vantrel/CBase.h"

class CVantrel final : public CBase {
public:
    CVantrel(ConfigBlock* config, const LogSettings* logSettings);
    ~CVantrel();

    std::int32_t init(InitInfo* info) override;
    bool start() override;
    std::int32_t configure() override;
    bool stop() override;
    bool print() override;
    std::int32_t recvData(UpdateMasks* masks, void* unused) override;
    std::int32_t sendData(void* unused1, void* unused2) override;

private:
    static constexpr std::uint32_t kMaxBusAddress = 126;

    char* deviceName = nullptr;
    char* portName = nullptr;
    std::int32_t baudRate = 0;
    std::uint16_t hemisphereCode = 0;
    std::uint8_t filterOn = 0;
    char reportRateCode = 0;
    std::uint8_t measurementRate = 0;
    std::int32_t syncType = 0;
    std::int32_t scalingCode = 0;
    std::uint8_t unitStatus[kMaxBusAddress] = {};
    std::int32_t maxAddress = 0;
    InitInfo initInfo = {};
    TrackerData* lastTrackerEntry = nullptr;
    TrackerData* trackerSamples = nullptr;
    TrackerData currentTracker = {};
    ControllerData* lastControllerEntry = nullptr;
    ControllerData* controllerSamples = nullptr;
    ControllerData currentController = {};
    std::uint32_t unitCount = 0;
    std::uint32_t mouseCount = 0;
    std::uint32_t busDeviceCount = 0;
    std::uint32_t ercId = 0;
    std::uint32_t srtId = 0;
    std::uint8_t recordBuffer[16] = {};
    std::uint32_t recordFill = 0;
    std::int32_t* runFlag = nullptr;
    std::uint8_t mouseFlags[kMaxBusAddress] = {};
    ConfigBlock* configBlock = nullptr;
};
