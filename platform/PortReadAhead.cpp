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

// Time-outs under which a read ends as soon as it has any byte: "return at
// once" and "wait for the first byte only".
bool PortReadAhead::endsWith(const SerialTimeouts& timeouts, std::uint32_t count, std::uint32_t taken)
{
    if (taken == count) {
        return true;
    }
    if (timeouts.ReadIntervalTimeout != kTimeoutMax) {
        return false;
    }
    const bool atOnce = timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    const bool firstByte = timeouts.ReadTotalTimeoutMultiplier == kTimeoutMax &&
                           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < kTimeoutMax;
    return taken > 0 && (atOnce || firstByte);
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
    if (!system.queued(queued, lineError)) {
        return got > 0;
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
        if (endsWith(timeouts, count, got)) {
            return true;
        }
    }
    if (got > 0 && endsWith(timeouts, count, got)) {
        return true;
    }
    std::uint32_t done = 0;
    const bool ok = system.read(out + got, count - got, done);
    got += done;
    return ok || got > 0;
}

}  // namespace platform
