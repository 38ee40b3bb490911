#include "HostStorage.h"

#include <cstring>

namespace host {

HostStorage::HostStorage(Kind kind, const LogSettings& log) : log_(log)
{
    mutexObject_.mutexHandle = mutex_.handle();
    mutexObject_.log = loggerOf(log_);
    storage_.log = loggerOf(log_);
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

CLogH* loggerOf(LogSettings& settings)
{
    return reinterpret_cast<CLogH*>(&settings);
}

LogSettings defaultLogSettings(const char* moduleName)
{
    LogSettings settings{};
    settings.showDate = 1;
    settings.showTime = 1;
    settings.showThreadId = 1;
    settings.enabled = 1;
    std::strncpy(settings.moduleName, moduleName, sizeof settings.moduleName - 1);
    const char* words[4] = {"INFO", "ERROR", "WARNING", "DEBUG"};
    for (int i = 0; i < 4; ++i) {
        std::strncpy(settings.levelWords[i], words[i], sizeof settings.levelWords[i] - 1);
    }
    settings.debugThreshold = 1;
    settings.debugLevel = 0;
    settings.debugCategory = 0;
    return settings;
}

}  // namespace host
