#pragma once
// The read of a serial port with a read-ahead buffer, over the two system
// calls it needs (the queue count with the line's errors, and a read under
// the time-outs in force). Plain data and no system header, so that its
// decisions can be checked on every target against the documented rules of
// ReadFile under COMMTIMEOUTS; the Win32 port hands it ClearCommError and
// ReadFile.
#include <cstdint>

#include "platform/SerialPort.h"

namespace platform {

class PortReadAhead {
public:
    // What the read asks of the system.
    class System {
    public:
        virtual ~System() = default;
        // The bytes the line holds and whether it reports a line error since
        // the last call (ClearCommError); false when the call fails.
        virtual bool queued(std::uint32_t& count, bool& lineError) = 0;
        // One read of count bytes under the time-outs in force (ReadFile);
        // done tells how many came, also when it fails.
        virtual bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& done) = 0;
        // Makes the read fail as the system fails a read that a line error
        // aborted (ERROR_OPERATION_ABORTED).
        virtual void failAborted() = 0;
    };

    // One read of up to count bytes into out: first what was read ahead;
    // then, when the read wants more and the line holds bytes, one read of as
    // much as it holds (into the read-ahead buffer unless the read wants at
    // least that much itself), which does not wait; then, unless the read
    // ends with what it has (endsWith), one read of the rest under the
    // time-outs. When the system does not tell what the line holds, that
    // last read is the whole read. abortOnError: the line's abort-on-error
    // flag.
    bool read(System& system, const SerialTimeouts& timeouts, bool abortOnError, std::uint8_t* out,
              std::uint32_t count, std::uint32_t& got);
    // Forgets what was read ahead.
    void discard();

    // After a read of count bytes has taken `taken` of them without waiting:
    // true when it ends with them, false when it goes on with one read of the
    // rest under the time-outs.
    static bool endsWith(const SerialTimeouts& timeouts, std::uint32_t count, std::uint32_t taken);

private:
    void take(std::uint8_t* out, std::uint32_t count, std::uint32_t& got);

    // The line's abort-on-error flag: asking for the queue count acknowledges
    // a line error, which the read then reports as the system would have.
    bool abortPending = false;
    std::uint32_t aheadStart = 0;
    std::uint32_t aheadEnd = 0;
    std::uint8_t ahead[256];
};

}  // namespace platform
