#pragma once
// The device's status report: its settings, one INFO line each, then the
// tracker and controller layers' reports.
class CConCommonH;
class CDeviceOptions;
class CLogH;
class CTraCommonH;

class CDeviceReport {
public:
    // A label and its value make one line, written whole, or not at all when
    // the logger is off; the layers' reports follow their own rules. Either
    // layer may be absent.
    static void write(const CLogH& log, const char* deviceName, const CDeviceOptions& options,
                      const CTraCommonH* trackerLayer, const CConCommonH* controllerLayer);
};
