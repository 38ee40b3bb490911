#include "kit/HostStorage.h"

namespace kit {

LogSettings plainLogSettings(const char* moduleName)
{
    CLogH log;
    log.showDate = 0;
    log.showTime = 0;
    log.showThreadId = 0;
    log.setName(moduleName);
    return log;
}

}  // namespace kit
