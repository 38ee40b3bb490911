#pragma once
// The device: a flock of tracker units on one bus behind one serial line.
// It conducts the parts that do the work: the device options, the status
// report, the flock's command set, the record assembler and the record
// decoder. It reads its settings from the host's option lines, configures
// the units, and publishes every changed sample into the host's shared
// storages.
#include <cstdint>

#include "driver/CDeviceOptions.h"
#include "driver/CFlockCommands.h"
#include "driver/CRecordAssembler.h"
#include "driver/CRecordDecoder.h"
#include "driver/CRecordLengths.h"
#include "vantrel/CBase.h"

class CConCommonH;
class CRS232H;
class CTraCommonH;

class CVantrel final : public CBase {
public:
    CVantrel(ConfigBlock* config, const LogSettings* logSettings);
    ~CVantrel();
    CVantrel(const CVantrel&) = delete;
    CVantrel& operator=(const CVantrel&) = delete;

    std::int32_t init(InitInfo* info) override;
    bool start() override;
    std::int32_t configure() override;
    bool stop() override;
    bool print() override;
    std::int32_t recvData(UpdateMasks* masks, void* unused) override;
    std::int32_t sendData(void* unused1, void* unused2) override;

    // The flock's command set, as configure, start and stop use it.
    CFlockCommands& commands() { return commandSet; }

    // Divides every pause between commands; tests use it to run the
    // configuration quickly. The shipped module always pauses in full.
    void setPauseDivisor(std::uint32_t divisor) { commandSet.setPauseDivisor(divisor); }

private:
    std::int32_t initialise(InitInfo* info);
    bool setUpTrackerLayer();
    bool setUpControllerLayer();
    bool openSerialPort();
    template <typename Record>
    bool writeEntry(CDataStorage* storage, Record* (CDataStorage::*entry)(std::uint32_t) const, std::uint32_t id,
                    const Record& sample, Record*& lastEntry, const char* found, const char* notFound);
    void publishTracker(std::uint32_t address, UpdateMasks* masks, bool& success);
    void publishController(std::uint32_t address, UpdateMasks* masks, bool& success);

    CRS232H* serialPort = nullptr;
    char* deviceName = nullptr;
    CDeviceOptions options;
    InitInfo initInfo = {};
    TrackerData* lastTrackerEntry = nullptr;
    TrackerData* trackerSamples = nullptr;
    ControllerData* lastControllerEntry = nullptr;
    ControllerData* controllerSamples = nullptr;
    std::int32_t* runFlag = nullptr;
    ConfigBlock* configBlock = nullptr;
    CTraCommonH* trackerLayer = nullptr;
    CConCommonH* controllerLayer = nullptr;

    CFlockCommands commandSet;
    CRecordAssembler assembler;
    CRecordLengths recordLengths;
    CRecordDecoder decoder;
};
