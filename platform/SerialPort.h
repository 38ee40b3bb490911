#pragma once
// Serial ports through the operating system. The line settings are described
// by the Win32 control block (DCB) and time-out block (COMMTIMEOUTS), field by
// field and byte for byte, so that the code that fills them in is the same on
// every target; the POSIX implementation translates them to termios when they
// are applied and honours the time-outs itself.
#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace platform {

// Layout of the Win32 DCB (28 bytes).
struct SerialControlBlock {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t fBinary : 1;
    std::uint32_t fParity : 1;
    std::uint32_t fOutxCtsFlow : 1;
    std::uint32_t fOutxDsrFlow : 1;
    std::uint32_t fDtrControl : 2;
    std::uint32_t fDsrSensitivity : 1;
    std::uint32_t fTXContinueOnXoff : 1;
    std::uint32_t fOutX : 1;
    std::uint32_t fInX : 1;
    std::uint32_t fErrorChar : 1;
    std::uint32_t fNull : 1;
    std::uint32_t fRtsControl : 2;
    std::uint32_t fAbortOnError : 1;
    std::uint32_t fDummy2 : 17;
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};

// Layout of the Win32 COMMTIMEOUTS (20 bytes), all values in milliseconds.
struct SerialTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

// A port's whole line settings: control block, then time-outs.
struct PortAttributes {
    SerialControlBlock control;
    SerialTimeouts timeouts;
};

static_assert(sizeof(SerialControlBlock) == 28, "control block layout");
static_assert(sizeof(SerialTimeouts) == 20, "time-out block layout");
static_assert(sizeof(PortAttributes) == 48, "line settings layout");
static_assert(offsetof(SerialControlBlock, wReserved) == 12, "control block layout");
static_assert(offsetof(SerialControlBlock, ByteSize) == 18, "control block layout");
static_assert(offsetof(SerialControlBlock, EvtChar) == 25, "control block layout");
static_assert(offsetof(PortAttributes, timeouts) == 28, "line settings layout");

// Field values, with their Win32 meanings.
constexpr std::uint32_t kDtrControlDisable = 0;
constexpr std::uint32_t kDtrControlEnable = 1;
constexpr std::uint32_t kDtrControlHandshake = 2;
constexpr std::uint32_t kRtsControlDisable = 0;
constexpr std::uint32_t kRtsControlEnable = 1;
constexpr std::uint32_t kRtsControlHandshake = 2;
constexpr std::uint32_t kRtsControlToggle = 3;
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kOne5StopBits = 1;
constexpr std::uint8_t kTwoStopBits = 2;
// "No limit" / "return at once" marker of the time-out fields.
constexpr std::uint32_t kTimeoutMax = 0xFFFFFFFFu;

// The value an open call leaves behind when it fails.
OsHandle invalidHandle();

// The system's error code for a call with a bad argument.
std::uint32_t invalidArgumentError();

// Every operation below reports failure by its result and leaves the reason
// for lastErrorCode(). A null or invalid handle fails like a closed one.

// Opens the port by name for reading and writing, exclusively: a second open
// of a port that is already open fails.
OsHandle openSerialPort(const char* name);
bool closeSerialPort(OsHandle port);

bool getSerialControl(OsHandle port, SerialControlBlock& control);
bool setSerialControl(OsHandle port, const SerialControlBlock& control);
bool getSerialTimeouts(OsHandle port, SerialTimeouts& timeouts);
bool setSerialTimeouts(OsHandle port, const SerialTimeouts& timeouts);

// One synchronous write of count bytes; written tells how many went out,
// also when the write failed part-way.
bool writeSerial(OsHandle port, const void* buffer, std::uint32_t count, std::uint32_t& written);

// One synchronous read of up to count bytes under the time-outs in force:
// returns as soon as count bytes are there, or when a time-out ends the read
// with what has arrived (read 0 is a time-out, not a failure).
bool readSerial(OsHandle port, void* buffer, std::uint32_t count, std::uint32_t& read);

// Drops every byte that the line has received and no read has taken yet:
// what the system holds and what the port has read ahead.
bool discardInput(OsHandle port);

}  // namespace platform
