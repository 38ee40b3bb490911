// Serial ports on Windows: the communications functions of the system. The
// time-out block goes through byte for byte, the control block as the system
// must be handed it (SystemControlBlock.h).
#include "platform/SerialPort.h"

#include <cstring>
#include <new>
#include <windows.h>

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
    // The line's abort-on-error flag: asking for the queue count acknowledges
    // a line error, which the read then reports as the system would have.
    bool abortOnError = false;
    bool abortPending = false;
    // Read-ahead: what the line already held beyond the last read's count.
    std::uint8_t ahead[256];
    std::uint32_t aheadStart = 0;
    std::uint32_t aheadEnd = 0;
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

// Moves what was read ahead to out, as much as the read still wants.
void takeAhead(Win32Port& port, std::uint8_t* out, std::uint32_t count, std::uint32_t& got)
{
    const std::uint32_t buffered = port.aheadEnd - port.aheadStart;
    const std::uint32_t take = buffered < count - got ? buffered : count - got;
    std::memcpy(out + got, port.ahead + port.aheadStart, take);
    port.aheadStart += take;
    got += take;
}

// Time-outs under which a read ends as soon as it has any byte: "return at
// once" and "wait for the first byte only".
bool endsWithAnyByte(const COMMTIMEOUTS& timeouts)
{
    if (timeouts.ReadIntervalTimeout != MAXDWORD) {
        return false;
    }
    const bool atOnce = timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    const bool firstByte = timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < MAXDWORD;
    return atOnce || firstByte;
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

// First what was read ahead; then, when the read wants more and the line
// holds bytes, one read of as much as it holds (into the read-ahead buffer
// unless the read wants at least that much itself), which does not wait;
// then, while the read still wants bytes and its time-outs let it wait, one
// read of the rest under those time-outs (for the device's one-byte reads on
// a quiet line: one byte, up to 1000 ms).
bool readSerial(OsHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    Win32Port* port = transferPort(handle, buffer, count);
    if (port == nullptr) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    takeAhead(*port, out, count, read);
    if (read == count) {
        return true;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(port->handle, &errors, &status) == 0) {
        return read > 0;
    }
    if (errors != 0 && port->abortOnError) {
        port->abortPending = true;
    }
    if (port->abortPending) {
        // The read that the system would have failed, after the bytes that
        // came before the error.
        if (read > 0) {
            return true;
        }
        port->abortPending = false;
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return false;
    }
    if (status.cbInQue > 0) {
        const std::uint32_t wanted = count - read;
        const bool direct = wanted >= sizeof port->ahead;
        const std::uint32_t room = direct ? wanted : static_cast<std::uint32_t>(sizeof port->ahead);
        const DWORD take = status.cbInQue < room ? status.cbInQue : room;
        DWORD done = 0;
        const BOOL ok = ::ReadFile(port->handle, direct ? out + read : port->ahead, take, &done, nullptr);
        if (direct) {
            read += done;
        } else {
            port->aheadStart = 0;
            port->aheadEnd = done;
            takeAhead(*port, out, count, read);
        }
        if (ok == 0) {
            return read > 0;
        }
        if (read == count || endsWithAnyByte(port->timeouts)) {
            return true;
        }
    }
    if (read > 0 && endsWithAnyByte(port->timeouts)) {
        return true;
    }
    DWORD done = 0;
    const BOOL ok = ::ReadFile(port->handle, out + read, count - read, &done, nullptr);
    read += done;
    return ok != 0 || read > 0;
}

// Every operation on an open port reaches the system's handle through
// portOf(): the OsHandle that the module holds is the Win32Port, and a
// handle-taking system call given it directly fails (or, worse, succeeds on
// another object). What the port has read ahead belongs to the line's input
// as much as the system's queue does.

}  // namespace platform
