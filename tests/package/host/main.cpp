// A host built outside the project against the installed headers only: it
// loads the installed module, hands one device its records (configuration,
// logger settings, a tracker storage guarded by a robust recursive mutex,
// run flag) and takes it through init, configure, start, a few records,
// stop and deleteDev.
//
// Usage: consumer_host PORT CALIBRATION-LIBRARY
// Exit status 0 when every step gave the documented result and both output
// trackers were published.
#include <dlfcn.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vantrel/CBase.h"

namespace {

std::uint32_t fromNetwork(std::uint32_t value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

LogSettings logSettings(const char* name)
{
    LogSettings settings{};
    settings.enabled = 1;
    std::strcpy(settings.moduleName, name);
    const char* words[4] = {"INFO", "ERROR", "WARNING", "DEBUG"};
    for (int i = 0; i < 4; ++i) {
        std::strcpy(settings.levelWords[i], words[i]);
    }
    settings.debugThreshold = 1;
    return settings;
}

int fail(const std::string& text)
{
    std::printf("consumer host: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        return fail("usage: consumer_host PORT CALIBRATION-LIBRARY");
    }
    void* module = dlopen(CONSUMER_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        return fail(std::string("cannot load ") + CONSUMER_MODULE + ": " + dlerror());
    }
    const auto createDev = reinterpret_cast<CreateDevFunction>(dlsym(module, "createDev"));
    const auto deleteDev = reinterpret_cast<DeleteDevFunction>(dlsym(module, "deleteDev"));
    if (createDev == nullptr || deleteDev == nullptr) {
        return fail("the module lacks createDev or deleteDev");
    }

    // The device line and two option lines, as the host read them from its
    // configuration file (lines 10 to 12).
    std::vector<std::string> words = {"Vantrel", "2", "port", argv[1], "calibration", argv[2], "room", "2"};
    ConfigBlock config{};
    config.lineNumber = 10;
    config.deviceName = words[0].c_str();
    config.args[0] = words[1].c_str();
    config.argCount = 1;
    config.lines[0].lineNumber = 11;
    config.lines[0].keyword = words[2].c_str();
    config.lines[0].args[0] = words[3].c_str();
    config.lines[0].argCount = 1;
    config.lines[1].lineNumber = 12;
    config.lines[1].keyword = words[4].c_str();
    for (std::uint32_t i = 0; i < 3; ++i) {
        config.lines[1].args[i] = words[5 + i].c_str();
    }
    config.lines[1].argCount = 3;
    config.lineCount = 2;

    // The tracker storage and its mutex, as the module expects of a host.
    pthread_mutex_t mutex;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&mutex, &attributes);
    LogSettings hostLog = logSettings("ConsumerHost");
    LogSettings deviceLog = logSettings("ConsumerDevice");
    CMutexH mutexObject{};
    mutexObject.mutexHandle = &mutex;
    mutexObject.log = reinterpret_cast<CLogH*>(&hostLog);  // a logger is a LogSettings record
    std::vector<TrackerData> trackers(kStorageCapacity);
    std::uint32_t trackerCount = 0;
    CDataStorage storage{};
    storage.trackerList = trackers.data();
    storage.log = reinterpret_cast<CLogH*>(&hostLog);
    storage.mutex = &mutexObject;
    storage.countPtr = &trackerCount;
    std::int32_t runFlag = 1;
    InitInfo info{};
    info.trackerStorage = &storage;
    info.runFlag = &runFlag;

    CBase* device = createDev(&config, &deviceLog);
    if (device == nullptr) {
        return fail("createDev gave no device");
    }
    const std::int32_t initResult = device->init(&info);
    const std::int32_t configureResult = initResult == 1 ? device->configure() : 0;
    const bool started = configureResult == 2 && device->start();
    std::uint32_t seen = 0;
    for (int call = 0; started && call < 40 && seen != 3; ++call) {
        UpdateMasks masks{};
        if (device->recvData(&masks, nullptr) != 1) {
            break;
        }
        seen |= fromNetwork(masks.trackerMask);
    }
    const bool stopped = started && device->stop();
    const bool deleted = deleteDev(device);

    pthread_mutex_lock(&mutex);
    const std::uint32_t count = trackerCount;
    const std::uint32_t firstIndex = fromNetwork(trackers[0].storageIndex);
    const std::uint32_t secondIndex = fromNetwork(trackers[1].storageIndex);
    pthread_mutex_unlock(&mutex);
    std::printf("consumer host: init %d, configure %d, start %d, outputs seen %u, entries %u (%u, %u), stop %d, "
                "deleteDev %d\n",
                initResult, configureResult, started ? 1 : 0, seen, count, firstIndex, secondIndex, stopped ? 1 : 0,
                deleted ? 1 : 0);
    pthread_mutex_destroy(&mutex);
    dlclose(module);
    const bool good = initResult == 1 && configureResult == 2 && started && seen == 3 && count == 2 &&
                      firstIndex == 1 && secondIndex == 2 && stopped && deleted;
    return good ? 0 : 1;
}
