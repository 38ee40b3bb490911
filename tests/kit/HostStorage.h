#pragma once
// Host side of the test kit: a real OS mutex as a host creates it, and data
// storages (tracker or controller list) guarded by it.
#include <cstdint>
#include <memory>

#include "common/CLogH.h"
#include "vantrel/CDataStorage.h"

namespace kit {

// Windows: a mutex from CreateMutex. POSIX: a recursive, robust
// pthread_mutex_t, as the module expects of a host.
class HostMutex {
public:
    HostMutex();
    ~HostMutex();
    HostMutex(const HostMutex&) = delete;
    HostMutex& operator=(const HostMutex&) = delete;

    void* handle() const { return handle_; }
    void lock();
    void unlock();

private:
    void* handle_;
};

// The settings that tests use for every host logger: no date, time or
// thread id, so that whole lines can be compared.
LogSettings plainLogSettings(const char* moduleName);

class HostStorage {
public:
    enum class Kind { Tracker, Controller };

    explicit HostStorage(Kind kind);
    HostStorage(const HostStorage&) = delete;
    HostStorage& operator=(const HostStorage&) = delete;

    CDataStorage* storage() { return &storage_; }
    CMutexH* mutexObject() { return &mutexObject_; }
    HostMutex& mutex() { return mutex_; }
    std::uint32_t count() const { return count_; }
    TrackerData* trackers() { return trackers_.get(); }
    ControllerData* controllers() { return controllers_.get(); }

private:
    HostMutex mutex_;
    CLogH log_;
    CMutexH mutexObject_{};
    std::uint32_t count_ = 0;
    std::unique_ptr<TrackerData[]> trackers_;
    std::unique_ptr<ControllerData[]> controllers_;
    CDataStorage storage_{};
};

}  // namespace kit
