#pragma once
// Handle of one RS-232 port: opens it by name for exclusive reading and
// writing, keeps the settings found at open (written back at close) and a
// working set that the device fills in, moves bytes with blocking reads and
// writes, and reports every failure of the system with the system's text.
#include <cstdint>

#include "platform/SerialPort.h"

class CLogH;

// Line settings: control block (28 bytes) followed by time-outs (20 bytes).
using PortAttributes = platform::PortAttributes;

class CRS232H {
public:
    static constexpr std::uint32_t kMaxNameLength = 255;

    // With a logger: works with a copy of it. Without: a default logger named
    // "CRS232H" that shows DEBUG lines from level 4 on.
    explicit CRS232H(const CLogH* logger);
    ~CRS232H();
    CRS232H(const CRS232H&) = delete;
    CRS232H& operator=(const CRS232H&) = delete;

    bool openPort(const char* name);
    // Writes the settings found at open back, then closes. False when the
    // port is not open (nothing is written then) or either step failed.
    bool closePort();

    bool getAttributes(PortAttributes* attributes);
    // Applies the given settings, or the working ones for null; settings
    // given and applied become the working ones.
    bool setAttributes(PortAttributes* attributes);
    bool setWorkingAttributes(PortAttributes* attributes);
    // One of 1200 .. 115200; applied by the next setAttributes.
    bool setBaudRate(std::int32_t rate);
    // Nothing is pending anywhere: always true.
    bool flushPort();

    // Drops what the line has received and no read has taken, so that the
    // next read sees only what arrives after this call.
    bool discardInput();
    // Applies the working time-outs with another total read time-out; the
    // working settings stay as they are. A failure is reported as
    // setAttributes reports its time-out step.
    bool applyReadTimeout(std::uint32_t milliseconds);
    // Applies the working time-outs as they are again.
    bool applyWorkingTimeouts();

    // One write; returns the number of bytes written.
    std::int32_t writeBytes(const void* buffer, std::int32_t count);
    // One read of up to count bytes under the time-outs in force; returns the
    // number read, 0 after a time-out without data, -1 on failure.
    std::int32_t readBytes(void* buffer, std::int32_t count);

    const char* name() const { return portName; }
    bool isOpen() const { return portHandle != nullptr && portHandle != platform::invalidHandle(); }
    const PortAttributes& working() const { return workingAttributes; }
    const PortAttributes& saved() const { return savedAttributes; }

private:
    // The time-out step of setAttributes.
    bool applyTimeouts(const platform::SerialTimeouts& timeouts);
    // The given ERROR text, continued with the port's name and the system's
    // text for errorCode; nothing at all while the logger is switched off.
    void reportSystemError(const char* text, std::uint32_t errorCode) const;

    std::uint8_t ownsLog;
    char portName[kMaxNameLength + 1];
    platform::OsHandle portHandle;
    PortAttributes savedAttributes;
    PortAttributes workingAttributes;
    CLogH* log;
};
