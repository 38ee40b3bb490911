#pragma once
// Host side of the test kit: builds the ConfigBlock that a host would hand to
// a device, from configuration text. The first non-empty line is the device
// line ("name arg..."), every further non-empty line an option line
// ("keyword arg..."); lines starting with '#' are comments. Every line keeps
// its number in the text, plus firstLine - 1.
#include <cstdint>
#include <string>

#include "host/OptionBlock.h"

namespace kit {

class ConfigText {
public:
    explicit ConfigText(const std::string& text, std::uint32_t firstLine = 1);
    ConfigText(const ConfigText&) = delete;
    ConfigText& operator=(const ConfigText&) = delete;

    ConfigBlock* block() { return block_.block(); }
    OptionLine& line(std::uint32_t index) { return block_.block()->lines[index]; }
    // Number of option lines that some parser marked consumed.
    std::uint32_t consumedCount() const { return block_.consumedCount(); }

private:
    host::OptionBlock block_;
};

}  // namespace kit
