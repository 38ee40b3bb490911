#pragma once
// The device: a flock of tracker units on one bus behind one serial line.
// It reads its settings from the host's option lines, configures the units
// with their byte command set, and publishes every changed sample into the
// host's shared storages.
#include <cstdint>

#include "common/CSampleClock.h"
#include "vantrel/CBase.h"

class CConCommonH;
class CRS232H;
class CTraCommonH;

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

    // Command set. Each logs its begin, done and failure lines.
    bool sendAutoConfig();
    bool checkSystemStatus();
    bool sendNextTransmitter(std::uint32_t address, std::uint32_t transmitter);
    bool sendRs232ToFbb(std::uint32_t address);
    bool setPositionScaling(std::int32_t scaling);
    bool setMeasurementRate(std::uint8_t rate);
    bool setHemisphere(std::uint16_t hemisphere);
    bool setReferenceFrame();
    bool setPositionAngles();
    bool setButtonMode(bool on);
    bool setReportRate(char reportRate);
    bool setFilter();
    bool setSync(std::int32_t sync);
    std::uint8_t checkGroupMode();
    bool startGroupMode();
    bool sendStream();
    bool sendPoint();
    bool sendSleep();

    // Fills currentTracker (and currentController for a unit with a mouse)
    // from recordBuffer; false only when the calibration library fails.
    bool decodeRecord(std::uint32_t address);

    // Puts an assembled record (phasing bit cleared, address last) in place,
    // as the line would; for measurements of the decoder.
    void setRecord(const std::uint8_t* bytes, std::uint32_t count);

    // Divides every pause between commands; tests use it to run the
    // configuration quickly. The shipped module always pauses in full.
    void setPauseDivisor(std::uint32_t divisor) { pauseDivisor = divisor == 0 ? 1 : divisor; }

private:
    static constexpr std::uint32_t kMaxBusAddress = 126;

    std::int32_t initialise(InitInfo* info);
    bool parseDeviceLine();
    bool parseDeviceOptions();
    bool setUpTrackerLayer();
    bool setUpControllerLayer();
    bool openSerialPort();
    void pause(std::uint32_t milliseconds) const;
    bool writeCommand(const std::uint8_t* bytes, std::uint32_t count);
    bool discardInput();
    bool readByte(std::uint8_t& byte);
    bool sendSingleCommand(const std::uint8_t* bytes, std::uint32_t count, const char* begin, const char* done,
                           const char* failed);

    // A command sent to every unit that qualifies, each behind its bus
    // address prefix.
    struct UnitCommand {
        const std::uint8_t* bytes;
        std::uint32_t count;
        const char* begin;
        const char* unitLine;
        const char* unitDone;
        const char* done;
        const char* failed;
        std::uint32_t pauseBefore;
        std::uint32_t pauseAfterUnit;
        bool needAddressInUse;
        bool needMouse;
    };
    bool qualifiesForUnitCommand(std::uint32_t address, bool needAddressInUse, bool needMouse) const;
    bool sendToUnits(const UnitCommand& command);
    std::uint32_t trackerOutputId(std::uint32_t address) const;
    std::uint32_t controllerOutputId(std::uint32_t address) const;
    bool recordIsValid(std::uint32_t address) const;
    void startRecord(std::uint8_t phasingByte);
    template <typename Record>
    bool writeEntry(CDataStorage* storage, Record* (CDataStorage::*entry)(std::uint32_t) const, std::uint32_t id,
                    const Record& sample, Record*& lastEntry, const char* found, const char* notFound);
    void publishTracker(std::uint32_t address, UpdateMasks* masks, bool& success);
    void publishController(std::uint32_t address, UpdateMasks* masks, bool& success);

    CRS232H* serialPort = nullptr;
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
    CTraCommonH* trackerLayer = nullptr;
    CConCommonH* controllerLayer = nullptr;

    // Line number of the mouse line that named each bus address, for the
    // check against the final number of bus devices.
    std::uint32_t mouseLines[kMaxBusAddress] = {};
    std::uint32_t pauseDivisor = 1;
    CSampleClock sampleClock;
};
