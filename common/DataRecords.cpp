#include "common/DataRecords.h"

#include <cstring>

void resetTrackerData(TrackerData& record)
{
    std::memset(&record, 0, sizeof record);
}

void resetControllerData(ControllerData& record)
{
    std::memset(&record, 0, sizeof record);
    record.buttonBytes = 4;
}
