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
        if (!haveDeviceLine) {
            haveDeviceLine = true;
            block_.lineNumber = number;
            block_.deviceName = keep(parts[0]);
            for (std::size_t i = 1; i < parts.size() && i <= kMaxOptionArgs; ++i) {
                block_.args[block_.argCount++] = keep(parts[i]);
            }
            continue;
        }
        if (block_.lineCount == kMaxOptionLines) {
            throw std::length_error("more than 32 option lines");
        }
        OptionLine& option = block_.lines[block_.lineCount++];
        option.lineNumber = number;
        option.keyword = keep(parts[0]);
        for (std::size_t i = 1; i < parts.size(); ++i) {
            if (option.argCount == kMaxOptionArgs) {
                throw std::length_error("more than 64 arguments");
            }
            option.args[option.argCount++] = keep(parts[i]);
        }
    }
}

std::uint32_t ConfigText::consumedCount() const
{
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        count += block_.lines[i].consumed != 0 ? 1 : 0;
    }
    return count;
}

const char* ConfigText::keep(const std::string& word)
{
    strings_.push_back(word);
    return strings_.back().c_str();
}

}  // namespace kit
