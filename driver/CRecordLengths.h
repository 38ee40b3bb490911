#pragma once
// Each unit's record length: 13 bytes, or 14 for a unit in button mode (its
// button byte before the address). A record of another length than its
// unit's is damaged (a byte lost, or a stray byte taken in, so that it still
// ends in a bus address) and is dropped like a record of impossible length.
//
// The line may change a unit's length all the same: a unit left in button
// mode by an earlier configuration keeps sending 14 bytes, and a unit may
// ignore the button-mode command. A unit takes its other length only after
// two well-formed records of that length in a row from it, never from one
// (a single damaged record looks like that); those two are dropped too.
#include <cstdint>

#include "driver/CDeviceOptions.h"

class CRecordLengths {
public:
    static constexpr std::uint32_t kPlain = 13;
    static constexpr std::uint32_t kWithButtons = 14;

    // Every unit's length as configure sets the units up: 14 for a unit with
    // a mouse, 13 for any other.
    void reset(const CDeviceOptions& options);

    // Whether a record that the phasing rule closed, from the unit at a bus
    // address (1..126), is to be published: it is well-formed (13 bytes, or
    // 14 with a button byte that a mouse sends) and has its unit's length.
    bool accept(std::uint32_t address, const std::uint8_t* record, std::uint32_t length);

private:
    std::uint8_t lengths[CDeviceOptions::kMaxBusAddress] = {};
    // Well-formed records of the unit's other length in a row.
    std::uint8_t otherInARow[CDeviceOptions::kMaxBusAddress] = {};
};
