#include "HostMutex.h"

#include <iostream>
#include <stdexcept>

#include "platform/HostPlatform.h"

namespace host {

HostMutex::HostMutex() : handle_(platform::createHostMutex())
{
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot create a mutex");
    }
}

HostMutex::~HostMutex()
{
    platform::destroyHostMutex(handle_);
}

void HostMutex::lock()
{
    std::uint32_t error = 0;
    if (platform::lockMutex(handle_, error) == platform::LockResult::Abandoned) {
        // Ours now, and usable again: only the process that held it is gone.
        std::cerr << "vantrel-host: a process died holding a storage's mutex; the host took it over" << std::endl;
    }
}

void HostMutex::unlock()
{
    std::uint32_t error = 0;
    platform::unlockMutex(handle_, error);
}

}  // namespace host
