// The module's two exported functions.
#include <new>

#include "driver/CVantrel.h"

extern "C" VANTREL_EXPORT CBase* createDev(ConfigBlock* config, LogSettings* logSettings)
{
    try {
        return new CVantrel(config, logSettings);
    } catch (...) {
        return nullptr;
    }
}

extern "C" VANTREL_EXPORT bool deleteDev(CBase* device)
{
    if (device == nullptr) {
        return false;
    }
    delete static_cast<CVantrel*>(device);
    return true;
}
