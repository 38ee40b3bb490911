#pragma once
// The host's shared data storage as the module sees it. A storage holds either
// a tracker list or a controller list of 32 entries (numbered from 1), guarded
// by the host's mutex. The operations below are carried by the module and work
// directly on these fields of the host's object; counts and entries are read
// and written only while the caller holds the mutex.
#include <cstddef>
#include <cstdint>

#include "vantrel/CMutexH.h"
#include "vantrel/DataRecords.h"

class CLogH;

constexpr std::uint32_t kStorageCapacity = 32;

class CDataStorage {
public:
    bool lock();
    bool unlock();
    std::uint32_t trackerDataCount() const;
    std::uint32_t controllerDataCount() const;
    bool setTrackerDataCount(std::uint32_t count);
    bool setControllerDataCount(std::uint32_t count);
    TrackerData* trackerEntry(std::uint32_t index) const;
    ControllerData* controllerEntry(std::uint32_t index) const;

    std::uint32_t reserved0;        // host's own bytes
    TrackerData* trackerList;       // offset 4: null when no tracker list
    ControllerData* controllerList; // offset 8: null when no controller list
    CLogH* log;                     // offset 12: logger for the storage's messages
    std::uint32_t reserved1;
    CMutexH* mutex;                 // offset 20: null until the host set it up
    std::uint32_t reserved2[2];
    std::uint32_t* countPtr;        // offset 32: number of valid entries
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(CDataStorage, trackerList) == 4, "CDataStorage layout");
static_assert(offsetof(CDataStorage, controllerList) == 8, "CDataStorage layout");
static_assert(offsetof(CDataStorage, log) == 12, "CDataStorage layout");
static_assert(offsetof(CDataStorage, mutex) == 20, "CDataStorage layout");
static_assert(offsetof(CDataStorage, countPtr) == 32, "CDataStorage layout");
#endif
