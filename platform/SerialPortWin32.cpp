// Serial ports on Windows: the communications functions of the system. The
// time-out block goes through byte for byte, the control block as the system
// must be handed it (SystemControlBlock.h).
#include "platform/SerialPort.h"

#include <cstring>
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

// A buffer the caller did not give is refused before it reaches the system.
bool refuseMissingBuffer(const void* buffer, std::uint32_t count)
{
    if (buffer == nullptr && count > 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return true;
    }
    return false;
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
    return ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool closeSerialPort(OsHandle port)
{
    return ::CloseHandle(port) != 0;
}

bool getSerialControl(OsHandle port, SerialControlBlock& control)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(port, &dcb) == 0) {
        return false;
    }
    std::memcpy(&control, &dcb, sizeof control);
    return true;
}

// The system is handed the block as its documentation demands it (see
// SystemControlBlock.h); settings no line can carry are refused here, as the
// system would refuse them.
bool setSerialControl(OsHandle port, const SerialControlBlock& control)
{
    SerialControlBlock handed{};
    if (!systemControlBlock(control, handed)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB dcb;
    std::memcpy(&dcb, &handed, sizeof dcb);
    return ::SetCommState(port, &dcb) != 0;
}

bool getSerialTimeouts(OsHandle port, SerialTimeouts& timeouts)
{
    COMMTIMEOUTS block{};
    if (::GetCommTimeouts(port, &block) == 0) {
        return false;
    }
    std::memcpy(&timeouts, &block, sizeof timeouts);
    return true;
}

bool setSerialTimeouts(OsHandle port, const SerialTimeouts& timeouts)
{
    COMMTIMEOUTS block;
    std::memcpy(&block, &timeouts, sizeof block);
    return ::SetCommTimeouts(port, &block) != 0;
}

bool writeSerial(OsHandle port, const void* buffer, std::uint32_t count, std::uint32_t& written)
{
    written = 0;
    if (refuseMissingBuffer(buffer, count)) {
        return false;
    }
    DWORD done = 0;
    const BOOL ok = ::WriteFile(port, buffer, count, &done, nullptr);
    written = done;
    return ok != 0;
}

bool readSerial(OsHandle port, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    if (refuseMissingBuffer(buffer, count)) {
        return false;
    }
    DWORD done = 0;
    const BOOL ok = ::ReadFile(port, buffer, count, &done, nullptr);
    read = done;
    return ok != 0;
}

}  // namespace platform
