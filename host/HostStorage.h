#pragma once
// A shared data storage as a host owns it: a tracker or a controller list of
// 32 entries, its count, the CMutexH object with a real mutex, and the logger
// record for the messages of both. Devices that share the storage reserve
// consecutive ranges of it in their init.
#include <cstdint>
#include <memory>

#include "HostMutex.h"
#include "vantrel/CDataStorage.h"
#include "vantrel/LogSettings.h"

namespace host {

class HostStorage {
public:
    enum class Kind { Tracker, Controller };

    // log: the settings of the logger that reports the storage's and the
    // mutex's failures.
    HostStorage(Kind kind, const LogSettings& log);
    HostStorage(const HostStorage&) = delete;
    HostStorage& operator=(const HostStorage&) = delete;

    CDataStorage* storage() { return &storage_; }
    CMutexH* mutexObject() { return &mutexObject_; }
    HostMutex& mutex() { return mutex_; }
    // Read under the mutex.
    std::uint32_t count() const { return *storage_.countPtr; }
    TrackerData* trackers() { return storage_.trackerList; }
    ControllerData* controllers() { return storage_.controllerList; }

private:
    HostMutex mutex_;
    LogSettings log_;
    CMutexH mutexObject_{};
    std::uint32_t count_ = 0;
    std::unique_ptr<TrackerData[]> trackers_;
    std::unique_ptr<ControllerData[]> controllers_;
    CDataStorage storage_{};
};

// The logger that storages and mutex objects point to, as the module sees it:
// its logger class has exactly the layout of the record.
CLogH* loggerOf(LogSettings& settings);

// The logger record with the module's defaults (date, time and thread id in
// the header, DEBUG lines off) and the given module name.
LogSettings defaultLogSettings(const char* moduleName);

}  // namespace host
