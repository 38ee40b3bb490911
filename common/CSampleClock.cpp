#include "common/CSampleClock.h"

#include "platform/Platform.h"

void CSampleClock::now(TimeRecord& record)
{
    std::uint32_t seconds = 0;
    std::uint16_t milliseconds = 0;
    platform::currentTime(seconds, milliseconds);
    if (!zoneKnown || seconds != zoneSecond) {
        platform::timeZone(seconds, minutesWest, daylight);
        zoneSecond = seconds;
        zoneKnown = true;
    }
    record.seconds = seconds;
    record.milliseconds = milliseconds;
    record.timezoneMinutes = minutesWest;
    record.daylight = daylight;
    record.padding = 0;
}
