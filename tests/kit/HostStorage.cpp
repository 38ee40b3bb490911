#include "kit/HostStorage.h"

#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace kit {

HostMutex::HostMutex()
{
#if defined(_WIN32)
    handle_ = ::CreateMutexA(nullptr, FALSE, nullptr);
    if (handle_ == nullptr) {
        throw std::runtime_error("CreateMutexA failed");
    }
#else
    auto* mutex = new pthread_mutex_t;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    handle_ = mutex;
#endif
}

HostMutex::~HostMutex()
{
#if defined(_WIN32)
    ::CloseHandle(handle_);
#else
    auto* mutex = static_cast<pthread_mutex_t*>(handle_);
    pthread_mutex_destroy(mutex);
    delete mutex;
#endif
}

void HostMutex::lock()
{
#if defined(_WIN32)
    ::WaitForSingleObject(handle_, INFINITE);
#else
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(handle_));
#endif
}

void HostMutex::unlock()
{
#if defined(_WIN32)
    ::ReleaseMutex(handle_);
#else
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(handle_));
#endif
}

LogSettings plainLogSettings(const char* moduleName)
{
    CLogH log;
    log.showDate = 0;
    log.showTime = 0;
    log.showThreadId = 0;
    log.setName(moduleName);
    return log;
}

HostStorage::HostStorage(Kind kind) : log_(plainLogSettings("Host"))
{
    mutexObject_.mutexHandle = mutex_.handle();
    mutexObject_.log = &log_;
    storage_.log = &log_;
    storage_.mutex = &mutexObject_;
    storage_.countPtr = &count_;
    if (kind == Kind::Tracker) {
        trackers_.reset(new TrackerData[kStorageCapacity]());
        storage_.trackerList = trackers_.get();
    } else {
        controllers_.reset(new ControllerData[kStorageCapacity]());
        storage_.controllerList = controllers_.get();
    }
}

}  // namespace kit
