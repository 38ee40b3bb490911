#pragma once
// Builds the ConfigBlock that a host hands to one device: the device line and
// the option lines, with the line numbers they had in the host's file. The
// block points into strings that this object keeps, so it stays where it is.
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "vantrel/ConfigBlock.h"

namespace host {

class OptionBlock {
public:
    // What a line would break of the module's invariants.
    enum class Limit { Kept, TooManyLines, TooManyArgs };

    OptionBlock() = default;
    OptionBlock(const OptionBlock&) = delete;
    OptionBlock& operator=(const OptionBlock&) = delete;

    // The device line. More than 64 arguments: the first 64 are kept and
    // TooManyArgs is returned.
    Limit setDeviceLine(std::uint32_t number, const std::string& name, const std::vector<std::string>& args);
    // One option line (a keyword and its arguments). A line that breaks a
    // limit is not added.
    Limit addOptionLine(std::uint32_t number, const std::string& keyword, const std::vector<std::string>& args);

    ConfigBlock* block() { return &block_; }
    const ConfigBlock& block() const { return block_; }
    const char* name() const { return block_.deviceName == nullptr ? "" : block_.deviceName; }
    // Number of option lines that some parser marked consumed.
    std::uint32_t consumedCount() const;
    // Hands the block over as new again: no line consumed (before each
    // createDev of the device).
    void clearConsumed();
    // The first argument of the line that the module takes for this keyword
    // (lastOptionLine); empty when there is none or it has no argument.
    std::string argumentOf(const char* keyword) const;

private:
    const char* keep(const std::string& word);

    std::deque<std::string> strings_;
    ConfigBlock block_{};
};

// The last option line of a block, not left out, whose keyword is the
// module's keyword of that name in any of its spellings and cases (port,
// serialport): the one whose value the module keeps. Null when none is.
const OptionLine* lastOptionLine(const ConfigBlock& block, const char* keyword,
                                 const std::set<std::uint32_t>& leftOut = {});

}  // namespace host
