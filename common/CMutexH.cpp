// Lock and unlock of the host's mutex object (layout in vantrel/CMutexH.h).
#include "vantrel/CMutexH.h"

#include "common/CLogH.h"
#include "common/CLogLine.h"
#include "platform/Platform.h"

namespace {

// Reports a failed mutex operation: the ERROR text continued with the
// system's text, one line (nothing while the host's logger is switched off).
void reportMutexFailure(const CLogH* hostLog, const char* text, std::uint32_t errorCode)
{
    CLogH fallback;
    fallback.setName("CMutexH");
    CLogLine line(hostLog != nullptr ? *hostLog : fallback);
    if (line.error(text, false).isOpen()) {
        char message[512];
        platform::systemErrorText(errorCode, message, sizeof message, platform::TextLanguage::UserDefault);
        line << message;
    }
    line.end();
}

}  // namespace

bool CMutexH::lock()
{
    std::uint32_t errorCode = 0;
    if (platform::lockMutex(mutexHandle, errorCode) == platform::LockResult::Acquired) {
        return true;
    }
    reportMutexFailure(log, "CMutexH: Locking mutex: ", errorCode);
    return false;
}

bool CMutexH::unlock()
{
    std::uint32_t errorCode = 0;
    if (platform::unlockMutex(mutexHandle, errorCode)) {
        return true;
    }
    reportMutexFailure(log, "CMutexH: Unlocking mutex: ", errorCode);
    return false;
}
