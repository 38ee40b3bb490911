#include "OptionBlock.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace host {

OptionBlock::Limit OptionBlock::setDeviceLine(std::uint32_t number, const std::string& name,
                                              const std::vector<std::string>& args)
{
    block_.lineNumber = number;
    block_.deviceName = keep(name);
    block_.argCount = 0;
    for (const std::string& arg : args) {
        if (block_.argCount == kMaxOptionArgs) {
            return Limit::TooManyArgs;
        }
        block_.args[block_.argCount++] = keep(arg);
    }
    return Limit::Kept;
}

OptionBlock::Limit OptionBlock::addOptionLine(std::uint32_t number, const std::string& keyword,
                                              const std::vector<std::string>& args)
{
    if (block_.lineCount == kMaxOptionLines) {
        return Limit::TooManyLines;
    }
    if (args.size() > kMaxOptionArgs) {
        return Limit::TooManyArgs;
    }
    OptionLine& option = block_.lines[block_.lineCount++];
    option.lineNumber = number;
    option.keyword = keep(keyword);
    for (const std::string& arg : args) {
        option.args[option.argCount++] = keep(arg);
    }
    return Limit::Kept;
}

std::uint32_t OptionBlock::consumedCount() const
{
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        count += block_.lines[i].consumed != 0 ? 1 : 0;
    }
    return count;
}

void OptionBlock::clearConsumed()
{
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        block_.lines[i].consumed = 0;
    }
}

std::string OptionBlock::argumentOf(const char* keyword) const
{
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        const OptionLine& line = block_.lines[i];
        const std::string word = line.keyword != nullptr ? line.keyword : "";
        if (line.argCount > 0 && word.size() == std::strlen(keyword) &&
            std::equal(word.begin(), word.end(), keyword, [&](char a, char b) { return lower(a) == lower(b); })) {
            return line.args[0];
        }
    }
    return std::string();
}

const char* OptionBlock::keep(const std::string& word)
{
    strings_.push_back(word);
    return strings_.back().c_str();
}

}  // namespace host
