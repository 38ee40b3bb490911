#include "kit/HostRecords.h"

namespace kit {

HostRecords::HostRecords()
{
    info.trackerStorage = trackers.storage();
    info.controllerStorage = controllers.storage();
    info.runFlag = &runFlag;
}

}  // namespace kit
