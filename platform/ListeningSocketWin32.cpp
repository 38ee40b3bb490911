#include "platform/ListeningSocket.h"

#include <winsock2.h>

namespace platform {

bool setListeningSocketOptions(std::uintptr_t socket)
{
    // Windows lets a bound address be taken again at once; SO_EXCLUSIVEADDRUSE
    // keeps other sockets from binding it while this one is there.
    const BOOL yes = TRUE;
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<const char*>(&yes), sizeof yes) == 0;
}

}  // namespace platform
