#pragma once
// The control block that a port hands to the system, built from the one its
// user wants. Plain data in, plain data out and no system header, so that the
// rules the Win32 SetCommState documents can be checked on every target.
#include "platform/SerialPort.h"

namespace platform {

// Characters the system uses for XON and XOFF when a block names the same
// character for both (DC1 and DC3); they mean nothing while software flow
// control is off.
constexpr char kXonCharacter = 0x11;
constexpr char kXoffCharacter = 0x13;

// Fills handed with wanted as the system must see it: the fields the system
// insists on are put right (structure length, binary mode, reserved fields,
// distinct XON and XOFF characters while software flow control is off).
// False (handed then means nothing) for line settings that no port can take
// (byte size, parity, stop bits and their combinations, a zero baud rate, an
// undefined DTR control, one character for XON and XOFF with software flow
// control on).
bool systemControlBlock(const SerialControlBlock& wanted, SerialControlBlock& handed);

}  // namespace platform
