#include "HostMutex.h"

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
    platform::lockMutex(handle_, error);
}

void HostMutex::unlock()
{
    std::uint32_t error = 0;
    platform::unlockMutex(handle_, error);
}

}  // namespace host
