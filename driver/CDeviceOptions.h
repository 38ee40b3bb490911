#pragma once
// The device's own settings and the walk that reads them: the number of
// units from the device line, then the device options of the host's option
// lines (the lines it does not know are left for the tracker and controller
// layers).
#include <cstdint>

#include "vantrel/ConfigBlock.h"

class CLogH;

class CDeviceOptions {
public:
    static constexpr std::uint32_t kMaxBusAddress = 126;

    CDeviceOptions() = default;
    ~CDeviceOptions();
    CDeviceOptions(const CDeviceOptions&) = delete;
    CDeviceOptions& operator=(const CDeviceOptions&) = delete;

    // unitCount from the device line: 2 without an argument, else 1..32;
    // false after the diagnostic for any other value.
    bool parseDeviceLine(const ConfigBlock& block, const CLogH& log);
    // The values init starts the walk from; measurementRate and the mouse
    // flags keep theirs.
    void setDefaults();
    // Every option line in order: a device option is taken or gets its
    // diagnostic, and the walk goes on. An accepted mouse ID sets dataKind
    // to 1. False after the walk when any line was bad.
    bool parseOptions(ConfigBlock& block, const CLogH& log, std::int32_t& dataKind);

    char* portName = nullptr;
    std::int32_t baudRate = 0;
    std::uint16_t hemisphereCode = 0;
    std::uint8_t filterOn = 0;
    char reportRateCode = 0;
    std::uint8_t measurementRate = 0;
    std::int32_t syncType = 0;
    std::int32_t scalingCode = 0;
    std::int32_t maxAddress = 0;
    std::uint32_t unitCount = 0;
    std::uint32_t mouseCount = 0;
    std::uint32_t busDeviceCount = 0;
    std::uint32_t ercId = 0;
    std::uint32_t srtId = 0;
    std::uint8_t mouseFlags[kMaxBusAddress] = {};

private:
    // Line number of the mouse line that named each bus address, for the
    // checks after the walk.
    std::uint32_t mouseLines[kMaxBusAddress] = {};
};
