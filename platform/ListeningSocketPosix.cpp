#include "platform/ListeningSocket.h"

#include <sys/socket.h>

namespace platform {

bool setListeningSocketOptions(std::uintptr_t socket)
{
    const int yes = 1;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0;
}

}  // namespace platform
