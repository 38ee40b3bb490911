// The serial ports of the platform layer, for the fuzz target of recvData
// only: one line whose bytes come from the fuzz input (FuzzLine). It defines
// every operation of platform/SerialPort.h, so the system's implementation
// is not linked into that target.
#include <cerrno>

#include "kit/FuzzLine.h"
#include "platform/SerialPort.h"

namespace platform {

namespace {

struct FuzzPort {
    SerialControlBlock control{};
    SerialTimeouts timeouts{};
};

FuzzPort thePort;

}  // namespace

OsHandle invalidHandle()
{
    return reinterpret_cast<OsHandle>(static_cast<std::intptr_t>(-1));
}

std::uint32_t invalidArgumentError()
{
    return EINVAL;
}

OsHandle openSerialPort(const char* name)
{
    if (name == nullptr) {
        errno = EINVAL;
        return invalidHandle();
    }
    thePort = FuzzPort{};
    return &thePort;
}

bool closeSerialPort(OsHandle port)
{
    return port == &thePort;
}

bool getSerialControl(OsHandle port, SerialControlBlock& control)
{
    control = thePort.control;
    return port == &thePort;
}

bool setSerialControl(OsHandle port, const SerialControlBlock& control)
{
    thePort.control = control;
    return port == &thePort;
}

bool getSerialTimeouts(OsHandle port, SerialTimeouts& timeouts)
{
    timeouts = thePort.timeouts;
    return port == &thePort;
}

bool setSerialTimeouts(OsHandle port, const SerialTimeouts& timeouts)
{
    thePort.timeouts = timeouts;
    return port == &thePort;
}

bool writeSerial(OsHandle port, const void*, std::uint32_t count, std::uint32_t& written)
{
    written = port == &thePort ? count : 0;
    return port == &thePort;
}

bool readSerial(OsHandle port, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    if (port != &thePort) {
        errno = EBADF;
        return false;
    }
    return fuzzkit::FuzzLine::read(buffer, count, read);
}

bool discardInput(OsHandle port)
{
    fuzzkit::FuzzLine::discard();
    return port == &thePort;
}

}  // namespace platform
