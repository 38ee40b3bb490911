#include "driver/CVantrel.h"

#include <cstring>

#include "common/CLogH.h"
#include "common/DataRecords.h"

CVantrel::CVantrel(ConfigBlock* config, const LogSettings* logSettings) : CBase(logSettings)
{
    resetTrackerData(currentTracker);
    resetControllerData(currentController);
    log->debug("CVantrel: \"constructor\" called.");
    if (logSettings == nullptr) {
        log->setName("CVantrel");
    }
    configBlock = config;
    recordFill = 0;
    measurementRate = 0;
    std::memset(mouseFlags, 0, sizeof mouseFlags);
}

CVantrel::~CVantrel()
{
    delete[] deviceName;
    delete[] portName;
    delete[] trackerSamples;
    delete[] controllerSamples;
    log->debug("CVantrel: \"destructor\" called.");
}

std::int32_t CVantrel::init(InitInfo* info)
{
    log->debug("CVantrel: \"init\" called.");
    if (info == nullptr) {
        log->error("CVantrel: Init info is empty.");
        return -1;
    }
    std::memcpy(&initInfo, info, sizeof initInfo);
    runFlag = initInfo.runFlag;
    // Options, layers, storages and the serial port are not set up yet.
    return -1;
}

bool CVantrel::start()
{
    log->debug("CVantrel: \"start\" called.");
    return false;
}

std::int32_t CVantrel::configure()
{
    log->debug("CVantrel: \"configure\" called.");
    return 0;
}

bool CVantrel::stop()
{
    log->debug("CVantrel: \"stop\" called.");
    return false;
}

bool CVantrel::print()
{
    return true;
}

std::int32_t CVantrel::recvData(UpdateMasks*, void*)
{
    log->debug("CVantrel: \"recvData\" called.");
    return -1;
}

std::int32_t CVantrel::sendData(void*, void*)
{
    log->warning("CVantrel: Can not send any data.");
    return -1;
}
