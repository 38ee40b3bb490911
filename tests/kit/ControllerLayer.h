#pragma once
// Test kit: a controller layer set up the way the device sets it up, and a
// run of its option parser over configuration text.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/CLogH.h"
#include "controller/CConCommonH.h"

namespace kit {

// busDeviceCount real controllers, limited IDs; the units listed in
// `mouseUnits` (ascending) get outputs 1, 2, 3 ... with no valuators and
// three buttons. The device's logger is a plain one named "Dev" unless
// other settings are given.
std::unique_ptr<CConCommonH> makeMouseLayer(std::uint32_t busDeviceCount,
                                            std::initializer_list<std::uint32_t> mouseUnits,
                                            const LogSettings& deviceLogSettings);
std::unique_ptr<CConCommonH> makeMouseLayer(std::uint32_t busDeviceCount,
                                            std::initializer_list<std::uint32_t> mouseUnits);

struct ParseRun {
    bool result = false;
    std::vector<std::string> output;  // every line written during the parse
    std::uint32_t consumed = 0;       // option lines marked consumed
};

// Parses the option lines of `options`; the device line is line 1, so the
// first option line is line 2.
ParseRun parseControllerOptions(CConCommonH& layer, const std::string& options);

}  // namespace kit
