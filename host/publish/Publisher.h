#pragma once
// The one way out of the host for samples. Every output (the live table, JSON
// lines and CSV, the record file, the shared storages, OSC) is a Publisher;
// its maker, in the list of PublisherList.cpp, makes it when the run's options
// ask for it, and the run's Publishers hand it what the devices publish.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/DataRecords.h"

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
    // Trackers of a device that predicts (--predict): whether pose is the
    // prediction (true) or, at the start of a run of samples, after a gap
    // or when the sensor's samples stopped, the pose as measured (false).
    bool predicts = false;
    bool predicted = false;

    // Whether button n (from 0) of a controller sample is pressed.
    bool pressed(std::uint32_t n) const { return ((buttonBits[n / 8] >> (n % 8)) & 1u) != 0; }
};

// A device as the publishers see it, once its init has reserved its entries.
struct DeviceInfo {
    std::string name;
    std::uint32_t firstTracker = 0;     // output ID of its first tracker
    std::uint32_t trackerCount = 0;
    std::uint32_t firstController = 0;  // 0 when it has no controllers
    std::uint32_t controllerCount = 0;
    // The argument of its hemisphere option line as written (+z, -x, ...);
    // empty without one (the module's default, +z).
    std::string hemisphere;
    // How far ahead the device's tracker poses are predicted (--predict, its
    // `predict` line); 0: not at all.
    std::uint32_t predictMicroseconds = 0;
    // The records that reached the device so far (published or not; modulo
    // 2^32), counted by its thread; valid until finish. Null where not known
    // (`watch`).
    const std::atomic<std::uint32_t>* records = nullptr;
    // The state of its line is known (run and demo watch it; `watch` reads it
    // from the other host's block) and every change comes as a status.
    bool stateKnown = false;
};

// What one recvData of a device published (for `watch`: one entry of another
// host's journal). The record's entries as the storages hold them (network
// byte order; the first changed tracker and controller entry, null for a kind
// that did not change; a tracker's pose predicted where the device predicts),
// and every changed entry as a HostSample, trackers first. Valid for the call
// only.
struct ReceivedRecord {
    std::uint32_t device = 0;  // index into the run's devices
    const TrackerData* tracker = nullptr;
    const ControllerData* controller = nullptr;
    // When the tracker entry's pose is the prediction: true, and the entry as
    // the storages hold it, with the pose as measured (else null).
    bool predicted = false;
    const TrackerData* measured = nullptr;
    const HostSample* samples = nullptr;
    std::uint32_t sampleCount = 0;
};

// A change of a device's state, for outputs that show it besides the samples:
// ok (records arrive), silent (none for a while), lost (its port failed),
// reconnecting (an attempt to bring it up again).
struct DeviceStatus {
    enum class State { Ok, Silent, Lost, Reconnecting };
    std::uint32_t device = 0;        // index into the run's devices
    State state = State::Ok;
    std::uint32_t seconds = 0;       // when: seconds since 1970 (UTC)
    std::uint32_t microseconds = 0;
    std::uint32_t sinceSeconds = 0;  // since when the device is in this state (the condition began)
    std::uint32_t sinceMicroseconds = 0;
    std::uint32_t attempt = 0;       // Reconnecting: the attempt's number, from 1 (0: not known, as for `watch`)
};

class Publisher {
public:
    // How the run calls publish and status.
    enum class Calls {
        // One call at a time, behind the one lock that every such publisher of
        // the run shares (the main thread's refresh takes it too): the lines
        // and the table.
        Serialised,
        // Straight from each device's thread, several at once: the publisher
        // keeps its own order and never waits long (shared storages, OSC).
        Concurrent,
    };

    virtual ~Publisher() = default;
    virtual Calls calls() const { return Calls::Serialised; }

    // Once, after every device's init.
    virtual void begin(const std::vector<DeviceInfo>& devices) { (void)devices; }
    // Every record. Must not allocate: it runs on the path of every sample.
    virtual void publish(const ReceivedRecord& record) = 0;
    virtual void status(const DeviceStatus& status) { (void)status; }
    // About 30 times a second, from the main thread.
    virtual void refresh() {}
    // Once, when the devices have stopped (or the run ended before they ran);
    // also without begin.
    virtual void finish() {}
    // True once the output cannot take more (a closed pipe, a full disk): the
    // run then stops.
    virtual bool broken() const { return false; }
    // Which output broke and the system's reason ("standard output: Broken
    // pipe"); empty while it is not broken.
    virtual std::string breakage() const { return {}; }
};

}  // namespace host
