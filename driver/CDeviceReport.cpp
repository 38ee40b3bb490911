#include "driver/CDeviceReport.h"

#include <cstdint>

#include "common/CLogH.h"
#include "common/CLogLine.h"
#include "controller/CConCommonH.h"
#include "driver/CDeviceOptions.h"
#include "tracker/CTraCommonH.h"

namespace {

const char* hemisphereName(std::uint16_t code)
{
    switch (code) {
    case 0x0000: return "+X";
    case 0x0001: return "-X";
    case 0x0600: return "+Y";
    case 0x0601: return "-Y";
    case 0x0C00: return "+Z";
    case 0x0C01: return "-Z";
    default: return "Unknown";
    }
}

}  // namespace

void CDeviceReport::write(const CLogH& log, const char* deviceName, const CDeviceOptions& options,
                          const CTraCommonH* trackerLayer, const CConCommonH* controllerLayer)
{
    // A label and its value make one line.
    CLogLine line(log);
    auto show = [&line](const char* label, auto value) {
        line.info(label, false) << value;
        line.end();
    };

    show("DEVICE NAME           : ", deviceName != nullptr ? deviceName : "");
    line.info("DEVICE TYPE           : Vantrel(tm)");
    show("VERSION               : ", "5.5");
    line.info("DATA TYPE             : Tracker");
    show("SERIAL PORT           : ", options.portName != nullptr ? options.portName : "");
    show("BAUD RATE             : ", options.baudRate);
    show("ADDRESSING MODE       : ", options.maxAddress == 14    ? "Normal"
                                     : options.maxAddress == 30  ? "Expanded"
                                     : options.maxAddress == 126 ? "Super"
                                                         : "Unknown");
    show("HEMISPEHRE            : ", hemisphereName(options.hemisphereCode));
    if (options.srtId != 0) {
        show("POSITION SCALING      : ",
             options.scalingCode == 1 ? "Max 36 inches" : options.scalingCode == 2 ? "Max 72 inches" : "Unknown");
    }
    if (options.measurementRate != 0) {
        show("MEASUREMENT RATE      : ", static_cast<unsigned>(options.measurementRate));
    }
    show("SYNC TYPE             : ", options.syncType == 0   ? "Off"
                                     : options.syncType == 1 ? "Type1"
                                     : options.syncType == 2 ? "Type2"
                                     : options.syncType == 3 ? "Type3"
                                                     : "Unknown");
    show("FILTER                : ", options.filterOn != 0 ? "Used" : "Unused");
    show("REPORT RATE           : ", options.reportRateCode == 'Q'   ? "Every single sampling"
                                     : options.reportRateCode == 'R' ? "Every other sampling"
                                     : options.reportRateCode == 'S' ? "Every 8 samplings"
                                     : options.reportRateCode == 'T' ? "Every 32 samplings"
                                                             : "Unknown");
    // One transmitter: the options never set both (an SRT's would stand on
    // a line of its own).
    line.info("TRANSMITTER           : ", false);
    if (options.ercId != 0) {
        line << "ERC on device ID:" << options.ercId;
        line.end();
    }
    if (options.srtId != 0) {
        if (options.ercId != 0) {
            line.bare("", false);
        }
        line << "SRT on device ID:" << options.srtId;
    }
    line.end();
    if (options.busDeviceCount != 0) {
        show("NUMBER OF DEVICES     : ", options.busDeviceCount);
    }
    if (options.unitCount != 0) {
        show("NUMBER OF TRACKERS    : ", options.unitCount);
    }
    if (options.mouseCount != 0) {
        show("NUMBER OF MICE        : ", options.mouseCount);
        line.info("MOUSE DEVICE IDs      :", false);
        for (std::uint32_t address = 1; address <= CDeviceOptions::kMaxBusAddress; ++address) {
            if (options.mouseFlags[address - 1] != 0) {
                line << ' ' << address;
            }
        }
        line.end();
    }
    if (trackerLayer != nullptr) {
        trackerLayer->printReport(true);
    }
    if (controllerLayer != nullptr) {
        controllerLayer->printReport();
    }
    line.info("-----------------------");
}
