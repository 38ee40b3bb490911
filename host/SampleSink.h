#pragma once
// Where the host's samples go: one sink per kind of output (live table, JSON
// lines, CSV, a record file, and what other programs add). The host reads
// each changed entry of its storages once, under the storage's mutex, into a
// HostSample and hands it to every sink.
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// One changed storage entry, in host byte order.
struct HostSample {
    std::uint32_t seconds = 0;       // sample time: seconds since 1970 (UTC)
    std::uint32_t microseconds = 0;  // and the microseconds within that second
    std::uint32_t device = 0;        // index into the run's devices
    std::uint32_t id = 0;            // output tracker or controller ID, 1..32
    bool tracker = true;             // false: a controller sample
    std::int32_t pose[6] = {};       // trackers: x, y, z (feet), azimuth, elevation, roll (degrees), x 100000
    std::uint32_t buttonCount = 0;   // controllers: number of buttons (0..32)
    std::uint8_t buttonBits[4] = {}; // button n is bit (n-1) mod 8 of byte (n-1) div 8
};

// A device as the sinks see it, once its init has reserved its entries.
struct DeviceInfo {
    std::string name;
    std::uint32_t firstTracker = 0;     // output ID of its first tracker
    std::uint32_t trackerCount = 0;
    std::uint32_t firstController = 0;  // 0 when it has no controllers
    std::uint32_t controllerCount = 0;
};

// Calls come one at a time (the host serialises them): begin once after every
// device's init, sample from the device threads, refresh about 30 times a
// second from the main thread, finish once at the end.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual void begin(const std::vector<DeviceInfo>& devices) = 0;
    // Must not allocate: it runs on the path of every sample.
    virtual void sample(const HostSample& sample) = 0;
    virtual void refresh() {}
    virtual void finish() {}
    // True once the output cannot take more (a closed pipe, a full disk):
    // the run then stops.
    virtual bool broken() const { return false; }
};

}  // namespace host
