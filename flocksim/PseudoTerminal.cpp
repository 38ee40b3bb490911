#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace flocksim {

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(std::string& error)
{
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char path[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, path, sizeof path) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    slavePath_ = path;
    slave_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        close();
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&settings, B38400);
    ::cfsetospeed(&settings, B38400);
    if (!setLineSettings(settings)) {
        error = "cannot set up " + slavePath_ + ": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

bool PseudoTerminal::lineSettings(termios& settings) const
{
    return slave_ >= 0 && ::tcgetattr(slave_, &settings) == 0;
}

bool PseudoTerminal::setLineSettings(const termios& settings)
{
    return slave_ >= 0 && ::tcsetattr(slave_, TCSANOW, &settings) == 0;
}

bool PseudoTerminal::takeAsControllingTerminal()
{
    return slave_ >= 0 && ::ioctl(slave_, TIOCSCTTY, 0) == 0;
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PseudoTerminal::close()
{
    closeMaster();
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

}  // namespace flocksim
