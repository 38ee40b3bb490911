#include "WineComLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace flocksim {

namespace {

std::string devicesDirectory()
{
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && *prefix != '\0') {
        return std::string(prefix) + "/dosdevices";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine/dosdevices";
}

std::string linkTarget(const std::string& link)
{
    char buffer[4096];
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (length < 0) {
        return std::string();
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

// A link whose target no longer exists is left over from a simulator that
// did not end cleanly.
bool isStale(const std::string& link)
{
    struct stat info {};
    return ::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ::stat(link.c_str(), &info) != 0;
}

}  // namespace

WineComLink::~WineComLink()
{
    remove();
}

bool WineComLink::create(unsigned number, const std::string& target, std::string& error)
{
    remove();
    const std::string directory = devicesDirectory();
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "no Wine prefix: " + directory + " is missing";
        return false;
    }
    if (number > kLast) {
        error = "COM port numbers go from 1 to " + std::to_string(kLast);
        return false;
    }
    const unsigned first = number == 0 ? kFirstAutomatic : number;
    const unsigned last = number == 0 ? kLast : number;
    for (unsigned candidate = first; candidate <= last; ++candidate) {
        const std::string link = directory + "/com" + std::to_string(candidate);
        if (isStale(link)) {
            ::unlink(link.c_str());
        }
        if (::symlink(target.c_str(), link.c_str()) == 0) {
            number_ = candidate;
            link_ = link;
            target_ = target;
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot create " + link + ": " + std::strerror(errno);
            return false;
        }
    }
    error = number == 0 ? "no free COM port number in " + directory
                        : directory + "/com" + std::to_string(number) + " exists already";
    return false;
}

bool WineComLink::retarget(const std::string& target, std::string& error)
{
    if (link_.empty()) {
        error = "no link to change";
        return false;
    }
    if (!swapLink(link_, target)) {
        error = "cannot make " + link_ + " lead to " + target + ": " + std::strerror(errno);
        return false;
    }
    target_ = target;
    return true;
}

bool WineComLink::swapLink(const std::string& link, const std::string& target)
{
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

void WineComLink::remove()
{
    if (!link_.empty() && linkTarget(link_) == target_) {
        ::unlink(link_.c_str());
    }
    link_.clear();
    target_.clear();
    number_ = 0;
}

std::string WineComLink::comName() const
{
    return number_ == 0 ? std::string() : "COM" + std::to_string(number_);
}

std::string WineComLink::openName() const
{
    return number_ == 0 ? std::string() : "\\\\.\\" + comName();
}

}  // namespace flocksim
