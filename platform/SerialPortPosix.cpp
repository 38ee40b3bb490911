// Serial ports on POSIX systems: a terminal device opened exclusively, its
// termios set from the Win32-style control block, and reads that honour the
// Win32 time-out rules through poll().
#include "platform/SerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

// What the library keeps per open port. Allocated at open, so that nothing on
// the read and write path allocates.
struct PosixPort {
    int fd = -1;
    // The terminal settings and modem lines found at open, restored exactly
    // when the control block that described them is applied again.
    termios original{};
    bool originalValid = false;
    int originalModemLines = 0;
    bool modemLinesValid = false;
    SerialControlBlock asFound{};
    bool asFoundValid = false;
    // The fields of the last block applied that termios has no place for.
    SerialControlBlock lastApplied{};
    SerialTimeouts timeouts{};
    // Read-ahead: what the line already held beyond the last read's count.
    std::uint8_t ahead[256];
    std::uint32_t aheadStart = 0;
    std::uint32_t aheadEnd = 0;
};

struct SpeedEntry {
    std::uint32_t rate;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speedCode(std::uint32_t rate, speed_t& code)
{
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

std::uint32_t speedRate(speed_t code)
{
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.code == code) {
            return entry.rate;
        }
    }
    return 0;
}

PosixPort* portOf(OsHandle handle)
{
    if (handle == nullptr || handle == invalidHandle()) {
        errno = EBADF;
        return nullptr;
    }
    return static_cast<PosixPort*>(handle);
}

// The port for a read or a write of count bytes at buffer; null (with the
// reason in errno) for a closed port or a missing buffer.
PosixPort* transferPort(OsHandle handle, const void* buffer, std::uint32_t count)
{
    PosixPort* port = portOf(handle);
    if (port != nullptr && buffer == nullptr && count > 0) {
        errno = EFAULT;
        return nullptr;
    }
    return port;
}

// The control block that describes the terminal settings t; fields that
// termios does not hold come from the block applied last.
SerialControlBlock describe(const termios& t, const SerialControlBlock& lastApplied)
{
    SerialControlBlock control = lastApplied;
    control.DCBlength = sizeof(SerialControlBlock);
    control.BaudRate = speedRate(cfgetospeed(&t));
    control.fBinary = 1;
    control.fParity = (t.c_iflag & INPCK) != 0 ? 1 : 0;
    const bool hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    control.fOutxCtsFlow = hardwareFlow ? 1 : 0;
    if (hardwareFlow) {
        control.fRtsControl = kRtsControlHandshake;
    } else if (control.fRtsControl == kRtsControlHandshake) {
        control.fRtsControl = kRtsControlEnable;
    }
    control.fOutX = (t.c_iflag & IXON) != 0 ? 1 : 0;
    control.fInX = (t.c_iflag & IXOFF) != 0 ? 1 : 0;
    switch (t.c_cflag & CSIZE) {
    case CS5: control.ByteSize = 5; break;
    case CS6: control.ByteSize = 6; break;
    case CS7: control.ByteSize = 7; break;
    default: control.ByteSize = 8; break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        control.Parity = kNoParity;
    } else if ((t.c_cflag & CMSPAR) != 0) {
        control.Parity = (t.c_cflag & PARODD) != 0 ? kMarkParity : kSpaceParity;
    } else {
        control.Parity = (t.c_cflag & PARODD) != 0 ? kOddParity : kEvenParity;
    }
    control.StopBits = (t.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    control.XonChar = static_cast<char>(t.c_cc[VSTART]);
    control.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return control;
}

// Raises or drops DTR and RTS; a line without modem control lines (a
// pseudo-terminal) has nothing to set, which is no failure.
bool setModemLines(int fd, int raise, int drop)
{
    if (raise != 0 && ::ioctl(fd, TIOCMBIS, &raise) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    if (drop != 0 && ::ioctl(fd, TIOCMBIC, &drop) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    return true;
}

bool applyControl(PosixPort& port, const SerialControlBlock& control)
{
    speed_t speed = B0;
    // CS5 is 0, so whether the byte size is one the line knows is kept apart.
    tcflag_t size = CS8;
    bool sizeKnown = true;
    switch (control.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: sizeKnown = false; break;
    }
    if (!speedCode(control.BaudRate, speed) || !sizeKnown || control.Parity > kSpaceParity ||
        control.StopBits > kTwoStopBits) {
        errno = EINVAL;
        return false;
    }
    termios t{};
    if (::tcgetattr(port.fd, &t) != 0) {
        return false;
    }
    // Raw 8-bit bytes: no line editing, echo, signals or translation.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR | IMAXBEL | IUCLC);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= static_cast<tcflag_t>(CREAD | CLOCAL) | size;
    switch (control.Parity) {
    case kOddParity: t.c_cflag |= PARENB | PARODD; break;
    case kEvenParity: t.c_cflag |= PARENB; break;
    case kMarkParity: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case kSpaceParity: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (control.fParity != 0) {
        t.c_iflag |= INPCK;
    }
    if (control.StopBits != kOneStopBit) {
        t.c_cflag |= CSTOPB;
    }
    if (control.fOutxCtsFlow != 0 || control.fRtsControl == kRtsControlHandshake) {
        t.c_cflag |= CRTSCTS;
    }
    if (control.fOutX != 0) {
        t.c_iflag |= IXON;
    }
    if (control.fInX != 0) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(control.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(control.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(port.fd, TCSANOW, &t) != 0) {
        return false;
    }
    int raise = 0;
    int drop = 0;
    (control.fDtrControl == kDtrControlDisable ? drop : raise) |= TIOCM_DTR;
    if (control.fRtsControl == kRtsControlDisable) {
        drop |= TIOCM_RTS;
    } else if (control.fRtsControl != kRtsControlHandshake) {
        raise |= TIOCM_RTS;
    }
    if (!setModemLines(port.fd, raise, drop)) {
        return false;
    }
    port.lastApplied = control;
    return true;
}

bool restoreOriginal(PosixPort& port)
{
    if (::tcsetattr(port.fd, TCSANOW, &port.original) != 0) {
        return false;
    }
    if (port.modemLinesValid) {
        const int lines = TIOCM_DTR | TIOCM_RTS;
        if (!setModemLines(port.fd, port.originalModemLines & lines, ~port.originalModemLines & lines)) {
            return false;
        }
    }
    port.lastApplied = port.asFound;
    return true;
}

// A poll() time-out for the time left until deadline; long waits are cut
// into pieces that fit an int, the callers loop.
int waitTime(std::uint64_t now, std::uint64_t deadline)
{
    const std::uint64_t left = deadline - now;
    return left > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(left);
}

std::uint64_t nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

// Takes what the line holds now, without waiting: first what was read ahead,
// then, when more is wanted, one read of as much as the line has (into the
// read-ahead buffer unless the caller wants at least that much itself).
// hungUp is set when the other side of the line has gone.
bool takeAvailable(PosixPort& port, std::uint8_t* out, std::uint32_t count, std::uint32_t& got, bool& hungUp)
{
    for (;;) {
        const std::uint32_t buffered = port.aheadEnd - port.aheadStart;
        if (buffered > 0) {
            const std::uint32_t take = buffered < count - got ? buffered : count - got;
            std::memcpy(out + got, port.ahead + port.aheadStart, take);
            port.aheadStart += take;
            got += take;
        }
        if (got == count) {
            return true;
        }
        const std::uint32_t wanted = count - got;
        const bool direct = wanted >= sizeof port.ahead;
        const ssize_t n = direct ? ::read(port.fd, out + got, wanted) : ::read(port.fd, port.ahead, sizeof port.ahead);
        if (n > 0) {
            if (direct) {
                got += static_cast<std::uint32_t>(n);
            } else {
                port.aheadStart = 0;
                port.aheadEnd = static_cast<std::uint32_t>(n);
            }
            continue;
        }
        if (n == 0) {
            hungUp = true;
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

constexpr std::uint64_t kNoDeadline = ~static_cast<std::uint64_t>(0);

// When a read with the given time-outs ends at the latest: the total
// time-out from its start, the interval time-out from its last byte.
std::uint64_t readDeadline(std::uint64_t start, std::uint64_t total, std::uint64_t gap, std::uint32_t read,
                           std::uint64_t lastByte)
{
    std::uint64_t deadline = total > 0 ? start + total : kNoDeadline;
    if (gap > 0 && read > 0 && lastByte + gap < deadline) {
        deadline = lastByte + gap;
    }
    return deadline;
}

bool waitFor(int fd, short events, int timeoutMs, short& revents)
{
    pollfd entry{fd, events, 0};
    for (;;) {
        const int result = ::poll(&entry, 1, timeoutMs);
        if (result >= 0) {
            revents = result == 0 ? 0 : entry.revents;
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

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
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return invalidHandle();
    }
    // No sharing: the lock keeps out every other opener (root included), the
    // terminal's exclusive mode keeps out other users' opens at once.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return invalidHandle();
    }
    PosixPort* port = new (std::nothrow) PosixPort;
    if (port == nullptr) {
        ::close(fd);
        errno = ENOMEM;
        return invalidHandle();
    }
    port->fd = fd;
    ::ioctl(fd, TIOCEXCL);
    port->modemLinesValid = ::ioctl(fd, TIOCMGET, &port->originalModemLines) == 0;
    port->lastApplied.DCBlength = sizeof(SerialControlBlock);
    port->lastApplied.fBinary = 1;
    if (port->modemLinesValid) {
        port->lastApplied.fDtrControl = (port->originalModemLines & TIOCM_DTR) != 0 ? kDtrControlEnable
                                                                                   : kDtrControlDisable;
        port->lastApplied.fRtsControl = (port->originalModemLines & TIOCM_RTS) != 0 ? kRtsControlEnable
                                                                                   : kRtsControlDisable;
    }
    port->originalValid = ::tcgetattr(fd, &port->original) == 0;
    if (port->originalValid) {
        port->asFound = describe(port->original, port->lastApplied);
        port->asFoundValid = true;
        port->lastApplied = port->asFound;
    }
    return port;
}

bool closeSerialPort(OsHandle handle)
{
    PosixPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    ::ioctl(port->fd, TIOCNXCL);
    const bool closed = ::close(port->fd) == 0;
    const int error = errno;
    delete port;
    errno = error;
    return closed;
}

bool getSerialControl(OsHandle handle, SerialControlBlock& control)
{
    PosixPort* port = portOf(handle);
    termios t{};
    if (port == nullptr || ::tcgetattr(port->fd, &t) != 0) {
        return false;
    }
    control = describe(t, port->lastApplied);
    return true;
}

bool setSerialControl(OsHandle handle, const SerialControlBlock& control)
{
    PosixPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    // The block read at open stands for the settings found then, which may
    // hold more than a control block can say: put those back unchanged.
    if (port->asFoundValid && std::memcmp(&control, &port->asFound, sizeof control) == 0) {
        return restoreOriginal(*port);
    }
    return applyControl(*port, control);
}

bool getSerialTimeouts(OsHandle handle, SerialTimeouts& timeouts)
{
    PosixPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    timeouts = port->timeouts;
    return true;
}

bool setSerialTimeouts(OsHandle handle, const SerialTimeouts& timeouts)
{
    PosixPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    port->timeouts = timeouts;
    return true;
}

bool writeSerial(OsHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written)
{
    written = 0;
    PosixPort* port = transferPort(handle, buffer, count);
    if (port == nullptr) {
        return false;
    }
    const SerialTimeouts& timeouts = port->timeouts;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(timeouts.WriteTotalTimeoutMultiplier) * count + timeouts.WriteTotalTimeoutConstant;
    const std::uint64_t deadline = nowMs() + limit;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    while (written < count) {
        const ssize_t n = ::write(port->fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        int waitMs = -1;
        if (limit > 0) {
            const std::uint64_t now = nowMs();
            if (now >= deadline) {
                return true;  // the write time-out ends the write with what went out
            }
            waitMs = waitTime(now, deadline);
        }
        short revents = 0;
        if (!waitFor(port->fd, POLLOUT, waitMs, revents)) {
            return false;
        }
        if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (revents & POLLOUT) == 0) {
            errno = EIO;
            return false;
        }
    }
    return true;
}

bool readSerial(OsHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read)
{
    read = 0;
    PosixPort* port = transferPort(handle, buffer, count);
    if (port == nullptr) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    const SerialTimeouts& timeouts = port->timeouts;
    // The Win32 rules: interval "max" with no total time-out returns at once
    // with what is there; interval and multiplier "max" with a constant wait
    // up to the constant for the first byte and return as soon as one is
    // there; otherwise the total time-out (multiplier x count + constant,
    // none when both are 0) and the interval time-out between two bytes (0:
    // none) end the read.
    const bool interval = timeouts.ReadIntervalTimeout == kTimeoutMax;
    const bool atOnce = interval && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    const bool firstByte = interval && timeouts.ReadTotalTimeoutMultiplier == kTimeoutMax &&
                           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < kTimeoutMax;
    const std::uint64_t total =
        firstByte ? timeouts.ReadTotalTimeoutConstant
                  : static_cast<std::uint64_t>(timeouts.ReadTotalTimeoutMultiplier) * count +
                        timeouts.ReadTotalTimeoutConstant;
    const std::uint64_t gap = interval ? 0 : timeouts.ReadIntervalTimeout;
    // What was read ahead serves the read without a look at the clock.
    if (port->aheadEnd - port->aheadStart >= count) {
        std::memcpy(out, port->ahead + port->aheadStart, count);
        port->aheadStart += count;
        read = count;
        return true;
    }
    const std::uint64_t start = nowMs();
    std::uint64_t lastByte = start;
    for (;;) {
        // Nothing read ahead: wait for the line first, rather than try a
        // read that would find nothing (one system call less per record of
        // a live stream).
        if (port->aheadStart == port->aheadEnd && !atOnce) {
            const std::uint64_t deadline = readDeadline(start, total, gap, read, lastByte);
            const std::uint64_t now = nowMs();
            if (deadline != kNoDeadline && now >= deadline) {
                return true;
            }
            short revents = 0;
            if (!waitFor(port->fd, POLLIN, deadline == kNoDeadline ? -1 : waitTime(now, deadline), revents)) {
                return read > 0;
            }
            if ((revents & POLLNVAL) != 0) {
                errno = EBADF;
                return read > 0;
            }
            if (revents == 0) {
                return true;  // timed out
            }
        }
        const std::uint32_t before = read;
        bool hungUp = false;
        if (!takeAvailable(*port, out, count, read, hungUp)) {
            return read > 0;
        }
        const std::uint64_t now = nowMs();
        if (read > before) {
            lastByte = now;
        }
        if (read == count || atOnce || (firstByte && read > 0)) {
            return true;
        }
        if (hungUp) {
            // The other side has gone: hand over what came, fail after that.
            if (read > 0) {
                return true;
            }
            errno = EIO;
            return false;
        }
    }
}

bool discardInput(OsHandle handle)
{
    PosixPort* port = portOf(handle);
    if (port == nullptr) {
        return false;
    }
    port->aheadStart = 0;
    port->aheadEnd = 0;
    return ::tcflush(port->fd, TCIFLUSH) == 0;
}

}  // namespace platform
