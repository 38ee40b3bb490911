#include "controller/ButtonBits.h"

#include "common/DataRecords.h"

bool setButtonBit(ControllerData& record, std::uint32_t button, std::int32_t pressed)
{
    if (button == 0 || button > kMaxButtons) {
        return false;
    }
    const std::uint32_t byteIndex = (button - 1) / 8;
    if (byteIndex >= record.buttonBytes || button > fromNetwork32(record.buttonCount)) {
        return false;
    }
    const auto mask = static_cast<std::uint8_t>(1u << ((button - 1) % 8));
    if (pressed > 0) {
        record.buttonBits[byteIndex] |= mask;
    } else {
        record.buttonBits[byteIndex] &= static_cast<std::uint8_t>(~mask);
    }
    return true;
}
