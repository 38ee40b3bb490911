#pragma once
// Setting one button of a controller record.
#include <cstdint>

#include "vantrel/DataRecords.h"

// Sets (pressed > 0) or clears button `button` (1..32) of the record: bit
// (button-1) mod 8 of button byte (button-1) div 8. Refuses, leaving the
// record as it is, button 0, buttons above 32, buttons whose byte lies beyond
// the record's buttonBytes and buttons above the record's button count.
bool setButtonBit(ControllerData& record, std::uint32_t button, std::int32_t pressed);
