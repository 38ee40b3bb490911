#pragma once
// The live table on a terminal: one row per output tracker with its device,
// position in feet, angles in degrees, the buttons of the controller of the
// same unit, the samples per second (changed samples of that tracker), and
// the device's records per second (every record that arrived, changed or
// not) and state, and where a device predicts, whether the pose shown is
// the prediction (its horizon, "20 ms") or as measured ("no"); redrawn in
// place at each refresh (the host refreshes at most 30 times a second).
//
// Which tracker a controller belongs to, the samples say: the module
// publishes one unit's record per recvData, so a controller sample that comes
// in one record with a tracker sample is that tracker's unit. (Another host's
// journal, which `watch` reads, keeps no records: there a controller entry
// right after a tracker entry of the same device and time stamp is taken as
// its unit's.) A controller whose tracker is not known shows on a row of its
// own.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "OutputOptions.h"
#include "Publisher.h"

namespace host {

class LiveTable : public Publisher {
public:
    explicit LiveTable(std::FILE* terminal);

    void begin(const std::vector<DeviceInfo>& devices) override;
    void publish(const ReceivedRecord& record) override;
    void status(const DeviceStatus& status) override;
    void refresh() override;
    void finish() override;

private:
    struct Row {
        std::uint32_t device = 0;
        std::uint32_t tracker = 0;     // output ID
    };
    struct Latest {
        bool seen = false;
        std::uint32_t device = 0;
        std::int32_t pose[6] = {};
        std::uint32_t buttonCount = 0;
        std::uint8_t buttonBits[4] = {};
        bool predicted = false;
        std::uint64_t samples = 0;       // since the start
        std::uint64_t samplesBefore = 0; // at the last rate update
        double rate = 0.0;
    };
    // A device's records per second and state.
    struct Line {
        std::uint32_t recordsBefore = 0;  // its count at the last rate update
        double rate = 0.0;
        bool stateKnown = false;          // the run watches the device, or told a state
        DeviceStatus::State state = DeviceStatus::State::Ok;
        std::uint32_t attempt = 0;
        std::uint32_t sinceSeconds = 0;   // when the state began (time of day)
    };
    using Clock = std::chrono::steady_clock;

    void take(const HostSample& sample);
    // Learns from a record which tracker each controller belongs to.
    void pair(const ReceivedRecord& record);
    void draw();
    static std::string buttonText(const Latest& controller);
    std::string predictionText(const Row& row) const;
    static std::string stateText(const Line& line);

    std::FILE* terminal_;
    std::vector<DeviceInfo> devices_;
    std::vector<Line> lines_;
    std::vector<Row> rows_;
    bool predicting_ = false;  // a device predicts: the column "predicted"
    Latest trackers_[32];
    Latest controllers_[32];
    std::uint32_t unitTracker_[32] = {};  // per controller: the tracker of its unit; 0: not known
    // The last record when it held one tracker sample alone (for watch).
    bool loneTracker_ = false;
    HostSample lastTracker_;
    bool recordsHoldUnits_ = false;  // some record held several samples: records are units'

    Clock::time_point rateTime_;
    int drawnLines_ = 0;
    bool begun_ = false;
};

}  // namespace host
