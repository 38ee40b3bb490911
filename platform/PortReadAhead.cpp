#include "platform/PortReadAhead.h"

#include <cstring>

namespace platform {

void PortReadAhead::discard()
{
    aheadStart = 0;
    aheadEnd = 0;
}

// Moves what was read ahead to out, as much as the read still wants.
void PortReadAhead::take(std::uint8_t* out, std::uint32_t count, std::uint32_t& got)
{
    const std::uint32_t buffered = aheadEnd - aheadStart;
    const std::uint32_t wanted = count - got;
    const std::uint32_t taken = buffered < wanted ? buffered : wanted;
    std::memcpy(out + got, ahead + aheadStart, taken);
    aheadStart += taken;
    got += taken;
}

// A read ends with the bytes it took without waiting under "return at once"
// (also with none), under "wait for the first byte only", and under an
// interval time-out: the system's read would end an interval after the last
// of them, while a second read would wait for its own first byte, without
// limit when no total time-out is set. Under total time-outs alone the rest
// is read under them.
bool PortReadAhead::endsWith(const SerialTimeouts& timeouts, std::uint32_t count, std::uint32_t taken)
{
    if (taken == count) {
        return true;
    }
    const std::uint32_t interval = timeouts.ReadIntervalTimeout;
    const std::uint32_t multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const std::uint32_t constant = timeouts.ReadTotalTimeoutConstant;
    if (interval == kTimeoutMax && multiplier == 0 && constant == 0) {
        return true;
    }
    const bool firstByte =
        interval == kTimeoutMax && multiplier == kTimeoutMax && constant > 0 && constant < kTimeoutMax;
    const bool intervals = interval != 0 && interval != kTimeoutMax;
    return taken > 0 && (firstByte || intervals);
}

bool PortReadAhead::read(System& system, const SerialTimeouts& timeouts, bool abortOnError, std::uint8_t* out,
                         std::uint32_t count, std::uint32_t& got)
{
    got = 0;
    take(out, count, got);
    if (got == count) {
        return true;
    }
    std::uint32_t queued = 0;
    bool lineError = false;
    // A port that does not tell its queue is read plainly.
    const bool queueKnown = system.queued(queued, lineError);
    if (!queueKnown) {
        queued = 0;
        lineError = false;
    }
    if (lineError && abortOnError) {
        abortPending = true;
    }
    if (abortPending) {
        // The read that the system would have failed, after the bytes that
        // came before the error.
        if (got > 0) {
            return true;
        }
        abortPending = false;
        system.failAborted();
        return false;
    }
    if (queued > 0) {
        const std::uint32_t wanted = count - got;
        const bool direct = wanted >= sizeof ahead;
        const std::uint32_t room = direct ? wanted : static_cast<std::uint32_t>(sizeof ahead);
        const std::uint32_t asked = queued < room ? queued : room;
        std::uint32_t done = 0;
        const bool ok = system.read(direct ? out + got : ahead, asked, done);
        if (direct) {
            got += done;
        } else {
            aheadStart = 0;
            aheadEnd = done;
            take(out, count, got);
        }
        if (!ok) {
            return got > 0;
        }
    }
    if ((queueKnown || got > 0) && endsWith(timeouts, count, got)) {
        return true;
    }
    std::uint32_t done = 0;
    const bool ok = system.read(out + got, count - got, done);
    got += done;
    return ok || got > 0;
}

}  // namespace platform
