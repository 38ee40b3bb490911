#include "kit/PortReading.h"

#include "serial/CRS232H.h"

namespace kit {

std::vector<std::uint8_t> readUntilQuiet(CRS232H& port, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        const std::int32_t n = port.readBytes(bytes.data() + got, static_cast<std::int32_t>(count - got));
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

platform::PortAttributes simulatorLine(std::uint32_t readTimeoutMs)
{
    platform::PortAttributes attributes{};
    attributes.control.BaudRate = 38400;
    attributes.control.fBinary = 1;
    attributes.control.ByteSize = 8;
    attributes.timeouts.ReadTotalTimeoutConstant = readTimeoutMs;
    return attributes;
}

}  // namespace kit
