// Lock and unlock of the host's mutex object (layout in vantrel/CMutexH.h).
#include "vantrel/CMutexH.h"

#include <cstring>
#include <iostream>

#include "common/CLogH.h"
#include "platform/Platform.h"

namespace {

// Reports a failed mutex operation: the ERROR text, then the system's text on
// standard output (written even when the host's logger is switched off).
void reportMutexFailure(const CLogH* hostLog, const char* text, std::uint32_t errorCode)
{
    char message[512];
    platform::systemErrorText(errorCode, message, sizeof message, platform::TextLanguage::UserDefault);
    if (hostLog != nullptr) {
        hostLog->error(text, false);
    } else {
        CLogH fallback;
        fallback.setName("CMutexH");
        fallback.error(text, false);
    }
    // Unformatted: no field width or locale of the host's changes it, and the
    // stream's state is left alone (other threads write at the same time).
    std::cout.write(message, static_cast<std::streamsize>(std::strlen(message)));
    std::cout << std::endl;
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
