#include "kit/FuzzLine.h"

#include <cerrno>
#include <cstring>

namespace fuzzkit {

namespace {

const std::uint8_t* lineBytes = nullptr;
std::size_t lineSize = 0;
std::size_t lineAt = 0;
bool lineFails = false;

}  // namespace

void FuzzLine::load(const std::uint8_t* data, std::size_t size, bool failWhenEmpty)
{
    lineBytes = data;
    lineSize = size;
    lineAt = 0;
    lineFails = failWhenEmpty;
}

bool FuzzLine::empty()
{
    return lineAt >= lineSize;
}

bool FuzzLine::read(void* buffer, std::uint32_t count, std::uint32_t& got)
{
    const std::size_t left = lineSize - lineAt;
    got = static_cast<std::uint32_t>(left < count ? left : count);
    if (got > 0) {
        std::memcpy(buffer, lineBytes + lineAt, got);
        lineAt += got;
        return true;
    }
    if (lineFails && count > 0) {
        errno = EIO;
        return false;
    }
    return true;  // a time-out: nothing arrived
}

void FuzzLine::discard()
{
    lineAt = lineSize;
}

}  // namespace fuzzkit
