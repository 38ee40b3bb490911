#pragma once
// HOST:PORT as the network outputs take it (--osc, --http): a name or a
// numeric address, an IPv6 address in brackets ([::1]:7770), and a decimal
// port.
#include <string>

namespace host {

struct HostPort {
    std::string host;  // without the brackets; empty when the text gave none
    std::string port;  // as given
    unsigned number = 0;
};

enum class HostPortRead { Ok, Malformed, PortOutOfRange };

// Reads HOST:PORT, or PORT alone where hostOptional (host then stays empty).
// The port is a decimal number of at most 65535 (the resolver would take
// 99999 modulo 65536).
HostPortRead readHostPort(const std::string& text, bool hostOptional, HostPort& out);

}  // namespace host
