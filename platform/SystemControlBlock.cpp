#include "platform/SystemControlBlock.h"

namespace platform {

namespace {

// Byte size and stop bits that a line can carry together: 5 to 8 data bits,
// one and a half stop bits only with 5, two only with 6 to 8.
bool frameIsPossible(std::uint8_t byteSize, std::uint8_t stopBits)
{
    if (byteSize < 5 || byteSize > 8) {
        return false;
    }
    switch (stopBits) {
    case kOneStopBit: return true;
    case kOne5StopBits: return byteSize == 5;
    case kTwoStopBits: return byteSize > 5;
    default: return false;
    }
}

}  // namespace

bool systemControlBlock(const SerialControlBlock& wanted, SerialControlBlock& handed)
{
    if (wanted.BaudRate == 0 || !frameIsPossible(wanted.ByteSize, wanted.StopBits) || wanted.Parity > kSpaceParity ||
        wanted.fDtrControl > kDtrControlHandshake) {
        return false;
    }
    // With software flow control on, one character for both would mean both
    // "stop" and "go": the system refuses such a block.
    const bool softwareFlowControl = wanted.fOutX != 0 || wanted.fInX != 0;
    if (softwareFlowControl && wanted.XonChar == wanted.XoffChar) {
        return false;
    }
    handed = wanted;
    handed.DCBlength = sizeof(SerialControlBlock);
    handed.fBinary = 1;  // the only mode the system has
    handed.fDummy2 = 0;
    handed.wReserved = 0;
    handed.wReserved1 = 0;
    if (handed.XonChar == handed.XoffChar) {
        handed.XonChar = kXonCharacter;
        handed.XoffChar = kXoffCharacter;
    }
    return true;
}

}  // namespace platform
