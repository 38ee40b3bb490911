#include "driver/CRecordLengths.h"

namespace {

// The button bytes a unit in button mode sends: none, buttons 1, 2 and 3.
bool isButtonByte(std::uint8_t byte)
{
    return byte == 0x00 || byte == 0x10 || byte == 0x30 || byte == 0x70;
}

}  // namespace

void CRecordLengths::reset(const CDeviceOptions& options)
{
    for (std::uint32_t i = 0; i < CDeviceOptions::kMaxBusAddress; ++i) {
        lengths[i] = static_cast<std::uint8_t>(options.mouseFlags[i] != 0 ? kWithButtons : kPlain);
        otherInARow[i] = 0;
    }
}

bool CRecordLengths::accept(std::uint32_t address, const std::uint8_t* record, std::uint32_t length)
{
    if (address < 1 || address > CDeviceOptions::kMaxBusAddress) {
        return false;
    }
    std::uint8_t& inARow = otherInARow[address - 1];
    const bool wellFormed = length == kPlain || (length == kWithButtons && isButtonByte(record[kWithButtons - 2]));
    if (!wellFormed) {
        inARow = 0;
        return false;
    }
    if (length == lengths[address - 1]) {
        inARow = 0;
        return true;
    }
    if (++inARow >= 2) {
        lengths[address - 1] = static_cast<std::uint8_t>(length);
        inARow = 0;
    }
    return false;
}
