#pragma once
// A UDP socket that sends datagrams to one address without ever blocking the
// caller: a datagram that does not fit into the socket's buffer is dropped
// and reported as such. POSIX only (the host program's OSC publication).
#include <cstddef>
#include <cstdint>

namespace platform {

struct UdpSender {
    int socket = -1;  // connected to the destination
};

// Resolves host (a name or a numeric IPv4/IPv6 address) and port once and
// opens a non-blocking socket for it. multicastHops > 0 sets the number of
// hops a multicast datagram may take. IPv4 sockets may broadcast. Refused:
// port 0, and IPv6 addresses that need an interface but name none
// (link-local, multicast of link or interface scope). On failure errorText
// holds the reason.
bool openUdpSender(const char* host, const char* port, int multicastHops, UdpSender& out, char* errorText,
                   std::size_t errorSize);

enum class SendResult { Sent, Dropped, Failed };

// Sends one datagram; Dropped when the socket's buffer is full or when the
// system learnt that nobody receives at the destination.
SendResult sendDatagram(UdpSender& sender, const void* data, std::size_t size, std::uint32_t& errorCode);

void closeUdpSender(UdpSender& sender);

}  // namespace platform
