#include "vantrel/CBase.h"

#include "common/CLogH.h"

CBase::CBase(const LogSettings* logSettings)
    : reserved(0),
      ownsLog(1),
      log(logSettings != nullptr ? new CLogH(*logSettings) : new CLogH()),
      layerFlag(1),
      dataKind(1)
{
    if (logSettings == nullptr) {
        log->setName("CBase");
    }
    log->setDebugCategory(1);
}

CBase::~CBase()
{
    if (ownsLog != 0) {
        delete log;
    }
}
