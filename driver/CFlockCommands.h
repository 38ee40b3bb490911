#pragma once
// The flock's command set over the serial port: every command's bytes, the
// reply it reads, its pauses, the units it is addressed to and its log
// lines. The per-unit commands choose their units from unitStatus, which
// checkSystemStatus fills.
#include <cstdint>

#include "driver/CDeviceOptions.h"

class CLogH;
class CRS232H;
class CTraCommonH;

class CFlockCommands {
public:
    // Reads the settings of options as they are at each command.
    CFlockCommands(const CLogH& log, const CDeviceOptions& options);
    CFlockCommands(const CFlockCommands&) = delete;
    CFlockCommands& operator=(const CFlockCommands&) = delete;

    // The port the commands go through (null: every command fails) and the
    // tracker layer that numbers the units in the status lines.
    void attach(CRS232H* port, const CTraCommonH* trackers);

    bool sendAutoConfig();
    // With debug output on, each unit in use is reported and an ERC found
    // (ercFound); false when one is not running.
    bool checkSystemStatus();
    // The bus address of the unit that the last status check reported with
    // ERC-0 (the last one of them), 0 for none.
    std::uint32_t ercFound() const { return foundErc; }
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

    // The calling thread sleeps for a pause of the command set.
    void pause(std::uint32_t milliseconds) const;
    // Divides every pause; tests use it to run the configuration quickly.
    // The shipped module always pauses in full.
    void setPauseDivisor(std::uint32_t divisor) { pauseDivisor = divisor == 0 ? 1 : divisor; }

private:
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
    std::uint32_t addressCount() const;
    std::uint32_t trackerOutputId(std::uint32_t address) const;
    void awaitQuietLine() const;

    const CLogH& log;
    const CDeviceOptions& options;
    CRS232H* serialPort = nullptr;
    const CTraCommonH* trackerLayer = nullptr;
    std::uint8_t unitStatus[CDeviceOptions::kMaxBusAddress] = {};
    std::uint32_t pauseDivisor = 1;
    std::uint32_t foundErc = 0;
};
