#include "kit/ConfigText.h"

#include <sstream>
#include <stdexcept>
#include <vector>

namespace kit {

ConfigText::ConfigText(const std::string& text, std::uint32_t firstLine)
{
    std::istringstream input(text);
    std::string row;
    std::uint32_t number = firstLine - 1;
    bool haveDeviceLine = false;
    while (std::getline(input, row)) {
        ++number;
        std::istringstream words(row);
        std::vector<std::string> parts;
        for (std::string word; words >> word;) {
            parts.push_back(word);
        }
        if (parts.empty() || parts[0][0] == '#') {
            continue;
        }
        const std::vector<std::string> args(parts.begin() + 1, parts.end());
        if (!haveDeviceLine) {
            // Arguments beyond the 64th are left out of the device line.
            haveDeviceLine = true;
            block_.setDeviceLine(number, parts[0], args);
            continue;
        }
        switch (block_.addOptionLine(number, parts[0], args)) {
        case host::OptionBlock::Limit::TooManyLines:
            throw std::length_error("more than 32 option lines");
        case host::OptionBlock::Limit::TooManyArgs:
            throw std::length_error("more than 64 arguments");
        case host::OptionBlock::Limit::Kept:
            break;
        }
    }
}

}  // namespace kit
