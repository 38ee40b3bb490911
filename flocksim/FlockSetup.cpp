#include "FlockSetup.h"

namespace flocksim {

Setup Setup::flock(std::uint32_t count, std::uint32_t ercAddress)
{
    Setup setup;
    setup.units.resize(count);
    if (ercAddress >= 1 && ercAddress <= count) {
        setup.units[ercAddress - 1].erc = true;
        setup.units[ercAddress - 1].receiver = false;
    }
    return setup;
}

std::uint8_t Setup::statusOf(std::uint32_t address) const
{
    if (address == 0 || address > units.size()) {
        return 0;
    }
    const UnitSetup& unit = units[address - 1];
    if (unit.status >= 0) {
        return static_cast<std::uint8_t>(unit.status);
    }
    std::uint8_t status = 0x80;
    if (unit.running) {
        status |= 0x40;
    }
    if (unit.receiver) {
        status |= 0x20;
    }
    if (unit.erc) {
        status |= static_cast<std::uint8_t>(0x10 | (unit.ercTransmitters & 0x0F));
    } else if (unit.srt) {
        status |= 0x01;
    }
    return status;
}

bool parseHangUp(const std::string& text, HangUp& how)
{
    const std::pair<const char*, HangUp> names[] = {
        {"silence", HangUp::Silence}, {"close", HangUp::Close}, {"power-off", HangUp::PowerOff}};
    for (const auto& name : names) {
        if (text == name.first) {
            how = name.second;
            return true;
        }
    }
    return false;
}

const char* hangUpName(HangUp how)
{
    return how == HangUp::Close ? "close" : how == HangUp::PowerOff ? "power-off" : "silence";
}

}  // namespace flocksim
