#include "common/CConfigH.h"

#include "common/CLogH.h"
#include "common/CLogLine.h"
#include "common/OptionLine.h"

bool CConfigH::reportUnknownOptions(const ConfigBlock* block, const CLogH& log)
{
    if (block == nullptr) {
        return true;
    }
    bool allConsumed = true;
    const std::uint32_t count = optionLineCount(*block);
    for (std::uint32_t i = 0; i < count; ++i) {
        const OptionLine& line = block->lines[i];
        if (line.consumed != 0) {
            continue;
        }
        allConsumed = false;
        CLogLine diagnostic(log);
        diagnostic.error("CConfigH: Unknown option \"", false)
            << (line.keyword != nullptr ? line.keyword : "") << "\" found at line " << line.lineNumber << ".";
        diagnostic.end();
    }
    return allConsumed;
}
