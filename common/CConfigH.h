#pragma once
// The final check over a device's configuration: every option line that no
// parser consumed is reported with its line number.
#include "vantrel/ConfigBlock.h"

class CLogH;

class CConfigH {
public:
    // Reports every unconsumed option line; false when it reported any.
    static bool reportUnknownOptions(const ConfigBlock* block, const CLogH& log);
};
