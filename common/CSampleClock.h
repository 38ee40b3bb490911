#pragma once
// Time stamps for samples: the current time as the runtime's time-of-day
// record. The time zone is looked up once per second, so a stamp costs
// little more than reading the clock.
#include <cstdint>

#include "vantrel/DataRecords.h"

class CSampleClock {
public:
    void now(TimeRecord& record);

private:
    bool zoneKnown = false;
    std::uint32_t zoneSecond = 0;
    std::int16_t minutesWest = 0;
    std::int16_t daylight = 0;
};
