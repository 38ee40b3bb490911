// Serial ports on Windows: the communications functions of the system. The
// time-out block goes through byte for byte, the control block as the system
// must be handed it (SystemControlBlock.h).
#include "platform/SerialPort.h"

#include <cstring>
#include <new>
#include <windows.h>

#include "platform/PortReadAhead.h"
#include "platform/SystemControlBlock.h"

namespace platform {

static_assert(sizeof(SerialControlBlock) == sizeof(DCB), "the control block is a DCB");
static_assert(sizeof(SerialTimeouts) == sizeof(COMMTIMEOUTS), "the time-out block is a COMMTIMEOUTS");
static_assert(offsetof(SerialControlBlock, BaudRate) == offsetof(DCB, BaudRate), "DCB layout");
static_assert(offsetof(SerialControlBlock, wReserved) == offsetof(DCB, wReserved), "DCB layout");
static_assert(offsetof(SerialControlBlock, XonLim) == offsetof(DCB, XonLim), "DCB layout");
static_assert(offsetof(SerialControlBlock, ByteSize) == offsetof(DCB, ByteSize), "DCB layout");
static_assert(offsetof(SerialControlBlock, Parity) == offsetof(DCB, Parity), "DCB layout");
static_assert(offsetof(SerialControlBlock, StopBits) == offsetof(DCB, StopBits), "DCB layout");
static_assert(offsetof(SerialControlBlock, XonChar) == offsetof(DCB, XonChar), "DCB layout");
static_assert(offsetof(SerialControlBlock, EvtChar) == offsetof(DCB, EvtChar), "DCB layout");
static_assert(offsetof(SerialControlBlock, wReserved1) == offsetof(DCB, wReserved1), "DCB layout");
static_assert(offsetof(SerialTimeouts, ReadTotalTimeoutConstant) ==
                  offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant), "COMMTIMEOUTS layout");
static_assert(offsetof(SerialTimeouts, WriteTotalTimeoutConstant) ==
                  offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant), "COMMTIMEOUTS layout");
static_assert(kTimeoutMax == MAXDWORD, "time-out marker");
static_assert(kDtrControlHandshake == DTR_CONTROL_HANDSHAKE && kRtsControlToggle == RTS_CONTROL_TOGGLE,
              "flow control values");
static_assert(kSpaceParity == SPACEPARITY && kOne5StopBits == ONE5STOPBITS && kTwoStopBits == TWOSTOPBITS,
              "parity and stop bit values");

namespace {

// What the library keeps per open port. Allocated at open, so that nothing on
// the read and write path allocates.
struct Win32Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // The time-outs in force, as the last successful set (or the open) left
    // them: they decide whether a read may end with what is there.
    COMMTIMEOUTS timeouts{};
    // The line's abort-on-error flag, for the read-ahead.
    bool abortOnError = false;
    PortReadAhead readAhead;
};

// The two calls the read-ahead makes, on the port's handle.
class ReadCalls final : public PortReadAhead::System {
public:
    explicit ReadCalls(HANDLE handle) : handle(handle) {}

    bool queued(std::uint32_t& count, bool& lineError) override
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (::ClearCommError(handle, &errors, &status) == 0) {
            return false;
        }
        count = status.cbInQue;
        lineError = errors != 0;
        return true;
    }

    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& done) override
    {
        DWORD got = 0;
        const BOOL ok = ::ReadFile(handle, buffer, count, &got, nullptr);
        done = got;
        return ok != 0;
    }

    void failAborted() override { ::SetLastError(ERROR_OPERATION_ABORTED); }

private:
    HANDLE handle;
};

Win32Port* portOf(OsHandle handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<Win32Port*>(handle);
}

// The port for a read or a write of count bytes at buffer; null (with the
// reason as the last error) for a closed port or a missing buffer.
Win32Port* transferPort(OsHandle handle, const void* buffer, std::uint32_t count)
{
    Win32Port* port = portOf(handle);
    if (port != nullptr && buffer == nullptr && count > 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return port;
}

}  // namespace

OsHandle invalidHandle()
{
    return INVALID_HANDLE_VALUE;
}

std::uint32_t invalidArgumentError()
{
    return ERROR_INVALID_PARAMETER;
}

OsHandle openSerialPort(const char* name)
{
    const HANDLE handle = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    Win32Port* port = new (std::nothrow) Win32Port;
    if (port == nullptr) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    port->handle = handle;
    if (::GetCommTimeouts(handle, &port->timeouts) == 0) {
        port->timeouts = COMMTIMEOUTS{};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    port->abortOnError = ::GetCommState(handle, &dcb) != 0 && dcb.fAbortOnError != 0;
    return port;
}

bool closeSerialPort(OsHandle handle)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    const bool closed = ::CloseHandle(port->handle) != 0;
    const DWORD error = ::GetLastError();
    delete port;
    ::SetLastError(error);
    return closed;
}

bool getSerialControl(OsHandle handle, SerialControlBlock& control)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(port->handle, &dcb) == 0) {
        return false;
    }
    std::memcpy(&control, &dcb, sizeof control);
    return true;
}

// The system is handed the block as its documentation demands it (see
// SystemControlBlock.h); settings no line can carry are refused here, as the
// system would refuse them.
bool setSerialControl(OsHandle handle, const SerialControlBlock& control)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    SerialControlBlock handed{};
    if (!systemControlBlock(control, handed)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB dcb;
    std::memcpy(&dcb, &handed, sizeof dcb);
    if (::SetCommState(port->handle, &dcb) == 0) {
        return false;
    }
    port->abortOnError = dcb.fAbortOnError != 0;
    return true;
}

bool getSerialTimeouts(OsHandle handle, SerialTimeouts& timeouts)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    COMMTIMEOUTS block{};
    if (::GetCommTimeouts(port->handle, &block) == 0) {
        return false;
    }
    std::memcpy(&timeouts, &block, sizeof timeouts);
    return true;
}

bool setSerialTimeouts(OsHandle handle, const SerialTimeouts& timeouts)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    COMMTIMEOUTS block;
    std::memcpy(&block, &timeouts, sizeof block);
    if (::SetCommTimeouts(port->handle, &block) == 0) {
        return false;
    }
    port->timeouts = block;
    return true;
}

bool writeSerial(OsHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written)
{
    written = 0;
    Win32Port* port = transferPort(handle, buffer, count);
    if (port == nullptr) {
        return false;
    }
    DWORD done = 0;
    const BOOL ok = ::WriteFile(port->handle, buffer, count, &done, nullptr);
    written = done;
    return ok != 0;
}

// Through the read-ahead (PortReadAhead.h), for the device's one-byte reads.
bool readSerial(OsHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    Win32Port* port = transferPort(handle, buffer, count);
    if (port == nullptr) {
        return false;
    }
    ReadCalls calls(port->handle);
    SerialTimeouts timeouts;
    std::memcpy(&timeouts, &port->timeouts, sizeof timeouts);
    return port->readAhead.read(calls, timeouts, port->abortOnError, static_cast<std::uint8_t*>(buffer), count, read);
}

// What the port has read ahead belongs to the line's input as much as the
// system's queue does: both go.
bool discardInput(OsHandle handle)
{
    Win32Port* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    port->readAhead.discard();
    return ::PurgeComm(port->handle, PURGE_RXCLEAR) != 0;
}

}  // namespace platform
