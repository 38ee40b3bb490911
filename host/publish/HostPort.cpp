#include "HostPort.h"

namespace host {

HostPortRead readHostPort(const std::string& text, bool hostOptional, HostPort& out)
{
    const std::size_t colon = text.rfind(':');
    // A colon inside brackets belongs to an IPv6 address without a port.
    const bool bracketsAfter = colon != std::string::npos && text.find(']', colon) != std::string::npos;
    if (colon == std::string::npos || bracketsAfter) {
        if (!hostOptional || text.empty() || bracketsAfter) {
            return HostPortRead::Malformed;
        }
        out.host.clear();
        out.port = text;
    } else {
        if (colon == 0 || colon + 1 == text.size()) {
            return HostPortRead::Malformed;
        }
        out.host = text.substr(0, colon);
        if (out.host.size() >= 2 && out.host.front() == '[' && out.host.back() == ']') {
            out.host = out.host.substr(1, out.host.size() - 2);
        }
        out.port = text.substr(colon + 1);
    }
    unsigned long number = 0;
    for (const char c : out.port) {
        number = c >= '0' && c <= '9' && number <= 65535 ? number * 10 + static_cast<unsigned long>(c - '0') : 65536;
    }
    if (number > 65535) {
        return HostPortRead::PortOutOfRange;
    }
    out.number = static_cast<unsigned>(number);
    return HostPortRead::Ok;
}

}  // namespace host
