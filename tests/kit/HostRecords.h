#pragma once
// The records a host hands to init: a tracker and a controller storage with
// real mutexes, a run flag that is set, and the InitInfo that points at them.
#include <cstdint>

#include "kit/HostStorage.h"
#include "vantrel/CBase.h"

namespace kit {

class HostRecords {
public:
    HostRecords();
    HostRecords(const HostRecords&) = delete;
    HostRecords& operator=(const HostRecords&) = delete;

    HostStorage trackers{HostStorage::Kind::Tracker};
    HostStorage controllers{HostStorage::Kind::Controller};
    std::int32_t runFlag = 1;
    InitInfo info{};
};

}  // namespace kit
