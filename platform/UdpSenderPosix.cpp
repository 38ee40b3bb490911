#include "platform/UdpSender.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// Why datagrams cannot go to the address as it is (into text), or null.
const char* destinationProblem(const sockaddr* address, const char* host, char* text, std::size_t size)
{
    if (address->sa_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(address)->sin_port == 0 ? "port 0 is no destination" : nullptr;
    }
    if (address->sa_family != AF_INET6) {
        return nullptr;
    }
    const auto* six = reinterpret_cast<const sockaddr_in6*>(address);
    if (six->sin6_port == 0) {
        return "port 0 is no destination";
    }
    if (six->sin6_scope_id != 0) {
        return nullptr;
    }
    // Link-local unicast, and multicast of the interface's or the link's
    // scope: which interface, the address does not say.
    if (IN6_IS_ADDR_LINKLOCAL(&six->sin6_addr)) {
        std::snprintf(text, size, "a link-local IPv6 address needs its interface, as in %s%%eth0", host);
        return text;
    }
    if (IN6_IS_ADDR_MULTICAST(&six->sin6_addr) && (six->sin6_addr.s6_addr[1] & 0x0f) <= 2) {
        std::snprintf(text, size, "a multicast IPv6 address of this scope needs its interface, as in %s%%eth0", host);
        return text;
    }
    return nullptr;
}

}  // namespace

bool openUdpSender(const char* host, const char* port, int multicastHops, UdpSender& out, char* errorText,
                   std::size_t errorSize)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host, port, &hints, &found);
    if (resolved != 0) {
        std::snprintf(errorText, errorSize, "%s", ::gai_strerror(resolved));
        return false;
    }
    if (const char* problem = destinationProblem(found->ai_addr, host, errorText, errorSize)) {
        if (problem != errorText) {
            std::snprintf(errorText, errorSize, "%s", problem);
        }
        ::freeaddrinfo(found);
        return false;
    }
    UdpSender sender;
    const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0;
    // A broadcast address is refused (EACCES) without the permission to
    // broadcast; for any other address the permission changes nothing.
    const int permitted = 1;
    ok = ok && (found->ai_family != AF_INET ||
                ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &permitted, sizeof permitted) == 0);
    // A connected socket: the route is looked up once, not for every
    // datagram (a third less CPU per send here).
    ok = ok && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
    if (ok && multicastHops > 0) {
        const int hops = multicastHops;
        ok = found->ai_family == AF_INET6
                 ? ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops) == 0
                 : ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) == 0;
    }
    if (!ok) {
        std::snprintf(errorText, errorSize, "%s", std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        ::freeaddrinfo(found);
        return false;
    }
    sender.socket = fd;
    ::freeaddrinfo(found);
    out = sender;
    return true;
}

SendResult sendDatagram(UdpSender& sender, const void* data, std::size_t size, std::uint32_t& errorCode)
{
    const ssize_t sent = ::send(sender.socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
        errorCode = 0;
        return SendResult::Sent;
    }
    errorCode = static_cast<std::uint32_t>(errno);
    // ECONNREFUSED: an earlier datagram found no receiver at the port.
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == ECONNREFUSED
               ? SendResult::Dropped
               : SendResult::Failed;
}

void closeUdpSender(UdpSender& sender)
{
    if (sender.socket >= 0) {
        ::close(sender.socket);
    }
    sender = UdpSender();
}

}  // namespace platform
