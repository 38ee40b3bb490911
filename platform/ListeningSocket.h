#pragma once
// The options of a server's listening socket (the host program's view of the
// flock, --http), set before it is bound.
#include <cstdint>

namespace platform {

// The socket (the system's handle as an integer) may take its address again
// at once after a run that ended (its connections linger for a while), but
// never while another socket listens on it: a second program asking for the
// same port is refused, not handed a share of the connections (SO_REUSEPORT
// on Linux) or the port itself (SO_REUSEADDR on Windows). False when the
// system refuses the options.
bool setListeningSocketOptions(std::uintptr_t socket);

}  // namespace platform
